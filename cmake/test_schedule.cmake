# How CTest schedules the long and the busy tests, for ./kit test (ctest with twice as many jobs as
# the machine has cores, and a "cores" resource with one slot per core).
#   COST seconds   about how long the test runs: CTest starts the longest first, also on a fresh
#                  build that has no timings of its own yet, so that none of them is left for the end
#   CORES n        the test keeps n cores busy all the time (a sanitizer build's unit tests, a fuzzer,
#                  a build): no more of them run at once than there are cores. The other tests mostly
#                  wait for a simulated board or a peer in real time, and run beside them.
function(kit_test_schedule test)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COST;CORES" "")
  if(arg_COST)
    set_tests_properties(${test} PROPERTIES COST ${arg_COST})
  endif()
  if(arg_CORES)
    set_tests_properties(${test} PROPERTIES RESOURCE_GROUPS "cores:${arg_CORES}")
  endif()
endfunction()
