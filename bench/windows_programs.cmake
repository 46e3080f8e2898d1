# The Windows-side benchmark programs, run under Wine by bench/wine_compare.py:
# a timing driver, a bare launcher (the floor for a launch; also built importing
# the helper's system DLLs) and a plain-C grant walk (the floor for the
# directory grants). Included by the top-level list.
if(NOT WIN32)
  return()
endif()
enable_language(C)

foreach(program zub-bench-timer zub-bench-launcher)
  string(REPLACE "zub-bench-" "" source ${program})
  add_executable(${program} ${CMAKE_CURRENT_LIST_DIR}/wine/${source}.c)
endforeach()
add_executable(zub-bench-launcher-dlls ${CMAKE_CURRENT_LIST_DIR}/wine/launcher.c)
target_compile_definitions(zub-bench-launcher-dlls PRIVATE ZUB_BENCH_IMPORT_HELPER_DLLS)
target_link_libraries(zub-bench-launcher-dlls PRIVATE advapi32 userenv)
add_executable(zub-bench-grant-floor ${CMAKE_CURRENT_LIST_DIR}/floor/grant_floor.c)
target_link_libraries(zub-bench-grant-floor PRIVATE advapi32)
foreach(program zub-bench-timer zub-bench-launcher zub-bench-launcher-dlls zub-bench-grant-floor)
  target_compile_definitions(${program} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
  set_target_properties(${program} PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  if(MINGW)
    target_link_options(${program} PRIVATE -municode)
  endif()
endforeach()
