# A wine prefix of the build's own for a group of tests: the fixture NAME creates it (wine's first
# start, which takes a while) and keeps its wineserver running until the last test of the group has
# ended (or ten minutes without a client have passed), so that each start of a Windows program in the group finds wine's services up instead of
# starting them anew (a second and more of wall time, and wine's CPU time, a start).
function(kit_wine_prefix name fixture prefix)
  set(env ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${prefix})
  add_test(NAME ${name}
           COMMAND ${env} sh -c "wineboot --init && wineserver -w && wineserver -p600 </dev/null >/dev/null 2>&1")
  set_tests_properties(${name} PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 600 LABELS wine)
  add_test(NAME ${name}_server_stop COMMAND ${env} sh -c "wineserver -k </dev/null >/dev/null 2>&1 || true")
  set_tests_properties(${name}_server_stop PROPERTIES FIXTURES_CLEANUP ${fixture} TIMEOUT 60 LABELS wine)
endfunction()
