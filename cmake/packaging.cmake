# Release packages, made with cmake --install and CPack (./kit package makes both):
#   the mingw-w64 build:  BrenloFix-<version>-win64.zip         BrenloFix.exe, the operator's guide, LICENSE
#   the ARMv5TE build:    board-tools-<version>-armv5te.tar.gz  bin/uboot-nand, bin/uboot-eeprom (stripped,
#                                                               static with ./kit), the board tools' guide, LICENSE
#                         board-tools-<version>-src.tar.gz      the board tools' sources for the board SDK
#                                                               (target source_package, cmake/source-package.cmake)
# The native build installs nothing of its own here: its programs are the kit's tools for tests and demos.
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Windows" AND TARGET BrenloFix)
  # BrenloFix's own CMakeLists installs the exe at the top of the package.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/operator-guide.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  set(CPACK_PACKAGE_NAME BrenloFix)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME BrenloFix-${PROJECT_VERSION}-win64)
elseif(CMAKE_CROSSCOMPILING AND TARGET uboot-nand AND TARGET uboot-eeprom)
  install(TARGETS uboot-nand uboot-eeprom RUNTIME DESTINATION bin)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/board-tools.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  set(CPACK_PACKAGE_NAME board-tools)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME board-tools-${PROJECT_VERSION}-armv5te)
  add_custom_target(source_package
    COMMAND ${CMAKE_COMMAND} -DKIT_SOURCE_DIR=${PROJECT_SOURCE_DIR} -DKIT_VERSION=${PROJECT_VERSION}
            -DKIT_PACKAGE_DIR=${CMAKE_BINARY_DIR}/packages -P ${PROJECT_SOURCE_DIR}/cmake/source-package.cmake
    VERBATIM)
else()
  return()
endif()

# No symbols in the shipped programs (the cross toolchain's strip); the board has little room.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_VENDOR "Brenlo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Brenlo factory and service kit")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
