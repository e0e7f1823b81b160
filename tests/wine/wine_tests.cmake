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

# The Linux helpers of the Wine tests are built with the host's compiler,
# so that the Windows build needs nothing from a Linux build.
find_program(PANTOLINE_HOST_CXX NAMES c++ g++ clang++ REQUIRED
  DOC "C++ compiler for the Linux helpers of the Wine tests")
# pantoline_host_program(name SOURCES files... [FLAGS flags...] [LIBS libs...]):
# the Linux program CMAKE_CURRENT_BINARY_DIR/name, made by the target `name`.
function(pantoline_host_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;FLAGS;LIBS" ${ARGN})
  set(program ${CMAKE_CURRENT_BINARY_DIR}/${name})
  list(TRANSFORM ARG_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
  add_custom_command(OUTPUT ${program}
    COMMAND ${PANTOLINE_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -pthread -I${PROJECT_SOURCE_DIR} ${ARG_FLAGS}
            -MD -MF ${program}.d -o ${program} ${ARG_SOURCES} ${ARG_LIBS}
    DEPENDS ${ARG_SOURCES} DEPFILE ${program}.d VERBATIM
    COMMENT "Building the Linux helper ${name}")
  add_custom_target(${name} ALL DEPENDS ${program})
endfunction()

# The simulated unit, which the Windows programs meet on a COM port of the
# prefix (pantoline-simunit --wine-prefix).
pantoline_host_program(host_simunit SOURCES tools/simunit/main.cpp app/command_line.cpp tools/simunit/sim_unit.cpp
                       link/port_names_posix.cpp link/clock_posix.cpp)
set(PANTOLINE_HOST_SIMUNIT ${CMAKE_CURRENT_BINARY_DIR}/host_simunit)
