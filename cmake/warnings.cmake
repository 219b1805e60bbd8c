# Compiler settings shared by every target.

# Host code and the simulated target: portable C++17, warning-free.
function(kit_host_target target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Board code: C++98 with the C library only, as the board SDK's old compilers take it.
function(kit_device_target target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 98 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -pedantic -Werror)
endfunction()

# Unit tests: whatever GoogleTest needs.
function(kit_test_target target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
  if(NOT KIT_UNIT_ONLY)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
  else()
    add_test(NAME ${target} COMMAND ${target})
  endif()
endfunction()
