# Cross-build of the board tools with the board SDK, for the board's own Linux: MontaVista Linux
# Professional Edition 4.0 (gcc 3.4, glibc 2.3, the old ARM ABI). Builds uboot-nand and uboot-eeprom
# alone, linked against the SDK's C library as the board has it.
#   KIT_SDK_PREFIX   the SDK compiler's name without gcc/g++, with its folder unless it is on PATH,
#                    for example /opt/mv_pro_4.0/montavista/pro/devkit/arm/v5t_le/bin/arm_v5t_le-
#   KIT_SDK_SYSROOT  the target root, passed as --sysroot; only for an SDK whose compiler needs it
#                    named. MontaVista's gcc 3.4 finds its own: leave it empty there
set(KIT_SDK_PREFIX "arm_v5t_le-" CACHE STRING "board SDK compiler prefix (folder and name before gcc)")
set(KIT_SDK_SYSROOT "" CACHE PATH "board SDK target root, for a compiler that takes --sysroot")

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER ${KIT_SDK_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${KIT_SDK_PREFIX}g++)
if(KIT_SDK_SYSROOT)
  set(CMAKE_SYSROOT ${KIT_SDK_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH ${KIT_SDK_SYSROOT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The tools alone: the simulated drivers that the tests run them against are C++17.
set(KIT_TESTS OFF CACHE BOOL "Build and register the tests")
