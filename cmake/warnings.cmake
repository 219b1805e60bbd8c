# Compiler settings shared by every target.

# Host code and the simulated target: portable C++17, warning-free.
function(kit_host_target target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Board code: C++98 with the C library only, as the board SDK's gcc 3.4 takes it. -W is the old
# name of -Wextra that every gcc and clang accept. Board code throws nothing and asks no types at
# run time, so the tools need no C++ runtime library on the board.
function(kit_device_target target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 98 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -W -pedantic-errors -Werror)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
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
