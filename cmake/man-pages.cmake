# The manual pages of the station package's programs, made from their sources in docs/man/ by
# cmake/man_page.py into man/<program>.1.gz, and installed into share/man/man1. The test man_pages
# checks each page against its program's --help and renders it with man.
set(kit_man_programs BrenloFix devsim brenlofix-station brenlofix-ledger)
set(kit_man_pages "")
foreach(program IN LISTS kit_man_programs)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${KIT_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/man_page.py ${PROJECT_SOURCE_DIR}/docs/man/${program}.txt
            ${PROJECT_VERSION} ${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${program}.txt ${PROJECT_SOURCE_DIR}/cmake/man_page.py
            ${PROJECT_SOURCE_DIR}/cmake/gzip_file.py
    VERBATIM)
  list(APPEND kit_man_pages ${page})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${kit_man_pages})
install(FILES ${kit_man_pages} DESTINATION share/man/man1)

if(KIT_TESTS AND NOT KIT_UNIT_ONLY AND TARGET brenlofix-ledger AND TARGET brenlofix-station)
  add_test(NAME man_pages
           COMMAND ${KIT_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/man_pages_test.py ${PROJECT_SOURCE_DIR}
                   ${CMAKE_BINARY_DIR}/man
                   BrenloFix=$<TARGET_FILE:BrenloFix> devsim=$<TARGET_FILE:devsim>
                   brenlofix-station=$<TARGET_FILE:brenlofix-station>
                   brenlofix-ledger=$<TARGET_FILE:brenlofix-ledger>)
  set_tests_properties(man_pages PROPERTIES LABELS package)
endif()
