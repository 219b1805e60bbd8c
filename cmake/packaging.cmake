# Release packages, made with cmake --install and CPack (./kit package makes both):
#   the mingw-w64 build:  BrenloFix-<version>-win64.zip         BrenloFix.exe, the operator's guide, LICENSE
#   the ARMv5TE build:    board-tools-<version>-armv5te.tar.gz  bin/uboot-nand, bin/uboot-eeprom (stripped,
#                                                               static with ./kit), the board tools' guide, LICENSE
#                         board-tools-<version>-src.tar.gz      the board tools' sources for the board SDK
#                                                               (target source_package, cmake/source-package.cmake)
#   the native build:     brenlofix-station_<version>-1_<arch>.deb  the Linux station: /usr/bin/BrenloFix,
#                                                               devsim, brenlofix-station (station/) and its
#                                                               systemd service,
#                                                               brenlofix-ledger (ledger/), the operator's guide;
#                                                               its library dependencies found by dpkg-shlibdeps
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
elseif(NOT CMAKE_CROSSCOMPILING AND TARGET BrenloFix AND TARGET devsim)
  # BrenloFix's own CMakeLists installs it into bin/.
  install(TARGETS devsim RUNTIME DESTINATION bin)
  # brenlofix-station's own CMakeLists installs it into bin/; its service, the service's settings
  # (the password: root's alone) and its system user, made by the package's postinst.
  install(FILES ${PROJECT_SOURCE_DIR}/station/service/brenlofix-station.service DESTINATION lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/station/service/brenlofix-station.sysusers DESTINATION lib/sysusers.d
          RENAME brenlofix-station.conf)
  install(FILES ${PROJECT_SOURCE_DIR}/station/service/brenlofix-station.conf DESTINATION /etc
          PERMISSIONS OWNER_READ OWNER_WRITE)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/station/service/postinst
      ${PROJECT_SOURCE_DIR}/station/service/conffiles)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/operator-guide.md ${PROJECT_SOURCE_DIR}/docs/devsim.md
          DESTINATION share/doc/brenlofix-station)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/doc/brenlofix-station RENAME copyright)
  set(CPACK_PACKAGE_NAME brenlofix-station)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brenlo factory tools <factory@brenlo.invalid>")
  # Under the summary line: BrenloFix, the station and devsim in a few words.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "BrenloFix flashes a Brenlo board (TI DM6446) over its serial console.
brenlofix-station runs one unattended BrenloFix per port and collects their
records; brenlofix-ledger hands out MAC addresses and serial numbers from pools
and keeps every run (SQLite, or PostgreSQL for several stations); devsim serves
a simulated board for training and tests.")
  # The C and C++ runtime, libsqlite3 and libpq as dpkg-shlibdeps finds them in the programs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The package made from a build of its own, as ./kit package makes it, unpacked and run.
  if(KIT_TESTS AND NOT KIT_UNIT_ONLY)
    add_test(NAME station_package
             COMMAND ${KIT_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/station_package_test.py ${PROJECT_SOURCE_DIR}
                     ${PROJECT_VERSION})
    set_tests_properties(station_package PROPERTIES LABELS package TIMEOUT 1200)
    kit_test_schedule(station_package COST 70 CORES 2)  # its build runs two compilers
  endif()
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
