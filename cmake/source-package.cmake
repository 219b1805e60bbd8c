# Makes the source package board-tools-<version>-src.tar.gz: the board tools' sources and CMake
# files, the toolchain files, the board tools' guide, the changelog and the license, buildable with
# cmake alone.
#   cmake -DKIT_SOURCE_DIR=<tree> -DKIT_VERSION=<version> -DKIT_PACKAGE_DIR=<folder> -P source-package.cmake
# The tests (unit tests, fuzz targets, black-box scripts) stay in the tree: they need the
# simulated drivers.
foreach(setting KIT_SOURCE_DIR KIT_VERSION KIT_PACKAGE_DIR)
  if(NOT ${setting})
    message(FATAL_ERROR "source-package.cmake needs -D${setting}=...")
  endif()
endforeach()

set(name board-tools-${KIT_VERSION}-src)
set(stage ${KIT_PACKAGE_DIR}/_source_stage)
set(top ${stage}/${name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${KIT_PACKAGE_DIR})

file(GLOB_RECURSE device_files RELATIVE ${KIT_SOURCE_DIR}
     ${KIT_SOURCE_DIR}/device/*.cc ${KIT_SOURCE_DIR}/device/*.h ${KIT_SOURCE_DIR}/device/*CMakeLists.txt)
list(FILTER device_files EXCLUDE REGEX "_test\\.cc$|_fuzz\\.cc$|^device/testing/")
foreach(file IN LISTS device_files
        ITEMS cmake/arm-linux-gnueabi.cmake cmake/board-sdk.cmake cmake/warnings.cmake cmake/sources.cmake LICENSE)
  get_filename_component(folder ${file} DIRECTORY)
  file(COPY ${KIT_SOURCE_DIR}/${file} DESTINATION ${top}/${folder})
endforeach()
file(COPY ${KIT_SOURCE_DIR}/docs/board-tools.md ${KIT_SOURCE_DIR}/docs/changelog DESTINATION ${top})
set(PROJECT_VERSION ${KIT_VERSION})
configure_file(${KIT_SOURCE_DIR}/cmake/board-tools-project.cmake ${top}/CMakeLists.txt @ONLY)

execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${KIT_PACKAGE_DIR}/${name}.tar.gz ${name}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE failed)
file(REMOVE_RECURSE ${stage})
if(failed)
  message(FATAL_ERROR "cannot make ${KIT_PACKAGE_DIR}/${name}.tar.gz")
endif()
message(STATUS "${KIT_PACKAGE_DIR}/${name}.tar.gz")
