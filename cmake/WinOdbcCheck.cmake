# Windows cross build only: a probe that proves odbc32 under Wine reaches the host's unixODBC
# and its SQLite3 driver. ctest reports it as skipped when that driver is not registered.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  add_executable(wine_odbc_probe ${CMAKE_CURRENT_LIST_DIR}/WinOdbcProbe.cpp)
  target_link_libraries(wine_odbc_probe PRIVATE mrv_odbc)
  add_test(NAME wine_odbc_probe COMMAND wine_odbc_probe)
  set_tests_properties(wine_odbc_probe PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()
