# Builds the production executable again in a build tree of its own and checks
# that the bytes equal those of the first build.
# Usage: cmake -DSOURCE=<dir> -DBINARY=<scratch dir> -DEXE=<first build's exe> -P check_reproducible.cmake
file(REMOVE_RECURSE ${BINARY})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -DZUB_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
          -DCMAKE_TOOLCHAIN_FILE=${SOURCE}/cmake/mingw-toolchain.cmake
  OUTPUT_QUIET RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring the second build failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} -j2 --target zub-sandbox-helper
                OUTPUT_QUIET RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "the second build failed")
endif()
file(SHA256 ${EXE} first)
file(SHA256 ${BINARY}/zub-sandbox-helper.exe second)
message(STATUS "first build:  ${first}")
message(STATUS "second build: ${second}")
if(NOT first STREQUAL second)
  message(FATAL_ERROR "two builds of the same sources differ")
endif()
file(REMOVE_RECURSE ${BINARY})
