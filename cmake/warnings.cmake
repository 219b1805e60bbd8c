# Compiler settings shared by every target.

# Warnings fail the build only where the compilers are the tested ones (./kit test turns this on):
# another compiler version or optimisation level may warn where these do not, and a packager's
# first build must not fail on that.
option(KIT_WERROR "Turn compiler warnings into errors" OFF)
if(KIT_WERROR)
  set(KIT_WERROR_FLAG -Werror)
else()
  set(KIT_WERROR_FLAG)
endif()

# Host code and the simulated target: portable C++17, warning-free.
function(kit_host_target target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra ${KIT_WERROR_FLAG})
endfunction()

# Board code: C++98 with the C library only, as the board SDK's gcc 3.4 takes it. -W is the old
# name of -Wextra that every gcc and clang accept. Board code throws nothing and asks no types at
# run time, so the tools need no C++ runtime library on the board.
function(kit_device_target target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 98 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -W -pedantic-errors ${KIT_WERROR_FLAG})
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  # Debian's hardening is for the station package's programs: the board tools keep to the C library
  # calls the board SDK's library has (no fortified calls, no stack protector).
  if(KIT_DEBIAN_FLAGS)
    target_compile_options(${target} PRIVATE -U_FORTIFY_SOURCE -fno-stack-protector)
  endif()
endfunction()

# Code that only tests run (test programs, their helpers) in an optimised build: the code under test
# comes from the libraries with the build's own optimisation, while the tests' own code, mostly
# GoogleTest's expanded macros, compiles at -Og with line tables only, in less than half the time of
# -O2 -g.
function(kit_test_code target)
  if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Release|MinSizeRel)$")
    target_compile_options(${target} PRIVATE -Og -g1)
  endif()
endfunction()

# Unit tests: whatever GoogleTest needs.
function(kit_test_target target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra ${KIT_WERROR_FLAG})
  kit_test_code(${target})
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
  # GoogleTest's header and the standard library's most used ones take a third of a small test
  # file's compile: parsed once a build instead, by the first test program, and reused by the others
  # (their compile options are alike).
  get_property(first GLOBAL PROPERTY kit_test_headers_target)
  if(first)
    target_precompile_headers(${target} REUSE_FROM ${first})
  else()
    target_precompile_headers(${target} PRIVATE <gtest/gtest.h> <string> <vector> <sstream> <fstream>
                              <iostream> <filesystem>)
    set_property(GLOBAL PROPERTY kit_test_headers_target ${target})
  endif()
  # Compiled without ccache: with the precompiled header each compile cost it a read and hash of the
  # header's tens of megabytes (0.4 s instead of 0.1 s), and a build folder made anew never found
  # these objects in the cache anyway, its header being another file.
  set_target_properties(${target} PROPERTIES CXX_COMPILER_LAUNCHER "")
  if(NOT KIT_UNIT_ONLY)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
  else()
    add_test(NAME ${target} COMMAND ${target})
  endif()
endfunction()
