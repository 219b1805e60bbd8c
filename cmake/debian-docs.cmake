# The station package's changelog.Debian.gz (docs/changelog, gzipped as Debian wants it), its
# copyright file in Debian's machine-readable format, made from LICENSE, and its lintian overrides
# (cmake/lintian-overrides: each with its reason).
set(kit_debian_dir ${CMAKE_BINARY_DIR}/debian)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE kit_license)
# LICENSE: the license's name, the copyright line, then the license's text.
if(NOT kit_license MATCHES "^MIT License\n\n(Copyright \\(c\\) ([^\n]*))\n\n(.*)$")
  message(FATAL_ERROR "LICENSE is no longer the MIT license with one copyright line: update cmake/debian-docs.cmake")
endif()
set(kit_copyright_holder "${CMAKE_MATCH_2}")
string(STRIP "${CMAKE_MATCH_3}" kit_license_text)
# The license's text under the License field: each line indented by one space, an empty line as " .".
string(REPLACE "\n\n" "\n.\n" kit_license_text "${kit_license_text}")
string(REPLACE "\n" "\n " kit_license_text "${kit_license_text}")
file(WRITE ${kit_debian_dir}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: BrenloKit
Upstream-Contact: ${CPACK_DEBIAN_PACKAGE_MAINTAINER}

Files: *
Copyright: ${kit_copyright_holder}
License: Expat
 ${kit_license_text}
")
install(FILES ${kit_debian_dir}/copyright DESTINATION share/doc/brenlofix-station)

add_custom_command(OUTPUT ${kit_debian_dir}/changelog.Debian.gz
  COMMAND ${KIT_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/gzip_file.py ${PROJECT_SOURCE_DIR}/docs/changelog
          ${kit_debian_dir}/changelog.Debian.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/changelog ${PROJECT_SOURCE_DIR}/cmake/gzip_file.py
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${kit_debian_dir}/changelog.Debian.gz)
install(FILES ${kit_debian_dir}/changelog.Debian.gz DESTINATION share/doc/brenlofix-station)

install(FILES ${PROJECT_SOURCE_DIR}/cmake/lintian-overrides DESTINATION share/lintian/overrides RENAME brenlofix-station)
