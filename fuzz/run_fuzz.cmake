# Runs the fuzzer for SECONDS on a fresh copy of the seed corpus under WORK, so
# that nothing it finds is written into the source tree. The library's own
# diagnostic lines are silenced (-close_fd_mask=2); libFuzzer, the sanitizers
# and the interpreter's checks still report.
file(REMOVE_RECURSE ${WORK})
file(COPY ${SEEDS}/ DESTINATION ${WORK}/corpus)
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=4096
  -print_final_stats=1 -close_fd_mask=2 -artifact_prefix=${WORK}/ ${WORK}/corpus
  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "zorsck_fuzz failed (${result}); the input is in ${WORK}")
endif()
