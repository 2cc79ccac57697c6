# What `cmake --install` puts in place besides the programs, and the Debian
# package that CPack makes of it (tools/package drives both):
#   bin/tavrix, bin/modemsim, lib/tavrix/libmodemlines.so (private: preloaded
#   by path, never linked), share/man/man1/*.1.gz, share/doc/tavrix/.
# The package's version is the program's own, suffix included.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Debian keeps every package's licence as share/doc/<package>/copyright.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

set(TAVRIX_MAINTAINER "Tavrix maintainers <maintainers@tavrix.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrix)
set(CPACK_PACKAGE_VERSION ${TAVRIX_VERSION_STRING})
set(CPACK_PACKAGE_VENDOR "The Tavrix authors")
set(CPACK_PACKAGE_CONTACT ${TAVRIX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test tool for WIT2410 radio modems on a serial line")
# The long description as the control file shows it: lines under 80
# characters, an empty line between paragraphs.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Tavrix brings a WIT2410 frequency-hopping radio modem up on a serial line,"
  "sets its channel, exchanges framed test messages with a base station and"
  "times the round trips, watches the signal strength, and lets the computer"
  "act as the base station that answers remote units. It runs in the terminal."
  ""
  "The package also holds modemsim, a simulator of WIT2410 modems and their"
  "radio network on pseudo-terminals, with its modem-lines shim, for trying"
  "Tavrix without hardware.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps works out the libraries' packages (libtinfo6,
# libstdc++6, libgcc-s1, libc6) with their versions from the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS ser2net)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
