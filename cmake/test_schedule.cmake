# How CTest schedules the long and the busy tests, for ./kit test (ctest with three times as many
# jobs as the machine has cores, and a "cores" resource with ten slots per core).
#   COST seconds   about how long the test runs: CTest starts the longest first, also on a fresh
#                  build that has no timings of its own yet, so that none of them is left for the end
#   CORES n        the share of a core the test keeps busy while it runs (1: a sanitizer build's unit
#                  tests, a fuzzer, a build; 0.4: six boards flashed at once; tenths), as measured on
#                  an idle machine: tests run beside each other only while their shares fit the
#                  machine's cores. The other tests mostly wait for a simulated board or a peer in
#                  real time (a twentieth of a core or less), and run beside them.
function(kit_test_schedule test)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COST;CORES" "")
  if(arg_COST)
    set_tests_properties(${test} PROPERTIES COST ${arg_COST})
  endif()
  if(arg_CORES)
    if(NOT arg_CORES MATCHES "^([0-9]+)?(\\.([0-9]))?$")
      message(FATAL_ERROR "kit_test_schedule(${test}): CORES ${arg_CORES} is not a number of cores in tenths")
    endif()
    set(whole 0)
    set(tenths 0)
    if(CMAKE_MATCH_1)
      set(whole ${CMAKE_MATCH_1})
    endif()
    if(CMAKE_MATCH_3)
      set(tenths ${CMAKE_MATCH_3})
    endif()
    math(EXPR slots "${whole} * 10 + ${tenths}")
    set_tests_properties(${test} PROPERTIES RESOURCE_GROUPS "cores:${slots}")
  endif()
endfunction()
