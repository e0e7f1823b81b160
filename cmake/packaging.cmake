# Packages made with CPack: on Linux a Debian package (cpack -G DEB), for
# Windows a release archive (cpack -G ZIP) holding Pantoline.exe,
# pantoline-cli.exe and the README. Whatever is installed goes in, stripped.
set(CPACK_PACKAGE_NAME pantoline)
set(CPACK_PACKAGE_VENDOR "The Pantoline developers")
set(CPACK_PACKAGE_CONTACT "The Pantoline developers <pantoline@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reset a Lodestria handheld GPS unit")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Pantoline-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Pantoline finds the serial port on which a Lodestria handheld GPS unit
answers, puts the unit into download mode and sends it the reset package
ResetPack.qv5 with XModem while a progress bar moves, writing the reset log
ResetSystemLog.doc. pantoline-cli does the same from a terminal, for
scripts, servers and service benches, on every connected unit at once if
asked. The package also holds pantoline-simunit, a simulated unit on a
pseudo-terminal for trying Pantoline without one.")
endif()

include(CPack)
