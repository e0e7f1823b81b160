# How the Windows build's tests run: under Wine, one after another, in a
# prefix of the build folder's own without COM ports (see wine_prefix.sh).
set(PANTOLINE_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine-prefix" CACHE PATH
    "Wine prefix in which the Windows tests run")
set(PANTOLINE_WINE_PREFIX_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/wine_prefix.sh")

# pantoline_wine_test(test): makes `test` run in the prepared prefix, alone.
function(pantoline_wine_test name)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "WINEPREFIX=${PANTOLINE_WINE_PREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mountmgr.sys=d"
    FIXTURES_REQUIRED pantoline_wine_prefix RESOURCE_LOCK pantoline_wine_prefix)
endfunction()
