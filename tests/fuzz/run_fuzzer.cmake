# One fuzz target as a test: replay every saved regression input, then fuzz for
# SECONDS over a fresh copy of the seed corpus (new inputs land in the copy,
# never in the committed corpus). A crash, a sanitizer report, a failed check
# or a hung input makes libFuzzer exit non-zero, and the test fails.
foreach(var FUZZER CORPUS REGRESSIONS WORK SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_fuzzer.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
file(GLOB seeds LIST_DIRECTORIES false ${CORPUS}/*)
if(seeds)
  file(COPY ${seeds} DESTINATION ${WORK}/corpus)
endif()

function(run_fuzzer what)
  execute_process(COMMAND ${FUZZER} -artifact_prefix=${WORK}/artifacts/ ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  file(WRITE ${WORK}/${what}.log "${out}")
  if(NOT rc EQUAL 0)
    message("${out}")
    message(FATAL_ERROR "${what} failed (exit ${rc}); inputs that failed are in ${WORK}/artifacts")
  endif()
  # The executions and coverage of this run, for the test's output.
  string(REGEX MATCHALL "(Done [0-9]+ runs[^\n]*|stat::[a-z_]+: *[0-9]+)" stats "${out}")
  foreach(line IN LISTS stats)
    message(STATUS "${what}: ${line}")
  endforeach()
endfunction()

file(GLOB regressions LIST_DIRECTORIES false ${REGRESSIONS}/*)
if(regressions)
  list(LENGTH regressions count)
  run_fuzzer(regressions ${regressions})
  message(STATUS "regressions: ${count} inputs pass")
endif()

run_fuzzer(fuzzing -max_total_time=${SECONDS} -print_final_stats=1 -timeout=10
  -rss_limit_mb=2048 ${WORK}/corpus)
