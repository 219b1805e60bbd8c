# Debian's build flags for the programs the station package ships: what dpkg-buildflags gives with
# every hardening feature (-D_FORTIFY_SOURCE=2, -fstack-protector-strong, -Wformat -Werror=format-security,
# PIE, -z relro and -z now), as a Debian package build takes them. Source paths in the debug
# information are relative to the tree (-ffile-prefix-map), so builds of it in different folders
# compile alike. ./kit turns this on for the native builds; fortify needs an optimised build.
option(KIT_DEBIAN_FLAGS "Compile and link with Debian's hardening build flags (dpkg-buildflags)" OFF)
if(NOT KIT_DEBIAN_FLAGS)
  return()
endif()
if(CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR "KIT_DEBIAN_FLAGS is for the native build (dpkg-buildflags knows this machine only)")
endif()
find_program(KIT_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT KIT_DPKG_BUILDFLAGS)
  message(FATAL_ERROR "dpkg-buildflags not found: install dpkg-dev")
endif()

function(kit_debian_flag out name)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                          ${KIT_DPKG_BUILDFLAGS} --get ${name}
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE flags
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-buildflags --get ${name} failed")
  endif()
  set(${out} "${flags}" PARENT_SCOPE)
endfunction()

kit_debian_flag(kit_cppflags CPPFLAGS)
kit_debian_flag(kit_cflags CFLAGS)
kit_debian_flag(kit_cxxflags CXXFLAGS)
kit_debian_flag(kit_ldflags LDFLAGS)
# Before the build type's own flags (-O2 -g -DNDEBUG), which come after these on the command line.
string(APPEND CMAKE_C_FLAGS " ${kit_cppflags} ${kit_cflags}")
string(APPEND CMAKE_CXX_FLAGS " ${kit_cppflags} ${kit_cxxflags}")
foreach(kind EXE SHARED MODULE)
  string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${kit_ldflags}")
endforeach()
# The packaged programs are stripped, so full debug information (-g) would be compiled for nothing
# (it takes a third of the compile time): the build keeps line tables (-g1), enough for a backtrace.
string(APPEND CMAKE_C_FLAGS_RELWITHDEBINFO " -g1")
string(APPEND CMAKE_CXX_FLAGS_RELWITHDEBINFO " -g1")
message(STATUS "Debian's build flags: ${kit_cppflags} ${kit_cxxflags} | ${kit_ldflags}")
