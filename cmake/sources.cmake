# Source lists by file name, so that a new file joins its folder's library or test program by itself:
#   foo.cc            the folder's library
#   foo_posix.cc      the library on POSIX builds only; foo_win32.cc on Windows builds only
#   foo_test.cc       the folder's unit test program
#   *_main.cc         a program's main; listed by its own CMakeLists
function(kit_glob_sources out_var)
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  set(result "")
  foreach(f IN LISTS all)
    get_filename_component(name ${f} NAME)
    if(name MATCHES "_test\\.cc$" OR name MATCHES "_main\\.cc$" OR name MATCHES "_fuzz\\.cc$" OR name MATCHES "_shim\\.cc$")
      continue()
    endif()
    if(name MATCHES "_win32\\.cc$" AND NOT WIN32)
      continue()
    endif()
    if(name MATCHES "_posix\\.cc$" AND WIN32)
      continue()
    endif()
    list(APPEND result ${f})
  endforeach()
  set(${out_var} ${result} PARENT_SCOPE)
endfunction()

function(kit_glob_tests out_var)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  set(${out_var} ${tests} PARENT_SCOPE)
endfunction()
