# The top-level CMakeLists.txt of the source package board-tools-@PROJECT_VERSION@-src.tar.gz: the board
# tools uboot-nand and uboot-eeprom alone, C++98 and the C library only (board-tools.md: building).
cmake_minimum_required(VERSION 3.13)
project(BoardTools VERSION @PROJECT_VERSION@ LANGUAGES C CXX)

if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE MinSizeRel)  # the board has little room
endif()
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

include(cmake/warnings.cmake)
include(cmake/sources.cmake)
add_subdirectory(device)
install(TARGETS uboot-nand uboot-eeprom RUNTIME DESTINATION bin)
