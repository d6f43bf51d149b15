# Install rules and the Debian package.
#   cmake --install <build> [--prefix /usr]      executables, desktop entry, icons
#   cpack --config <build>/CPackConfig.cmake -G DEB

include(GNUInstallDirs)

install(TARGETS corvane-studio corvane-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/corvane-studio.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/corvane-studio.service
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/resources/images/icon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME corvane-studio.png)
install(FILES ${PROJECT_SOURCE_DIR}/resources/images/src/icon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME corvane-studio.svg)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane-studio)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane Studio maintainers <corvane-studio@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Control program for laser-diode driver boards on a CAN bus")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary first and indents each line of this text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Corvane Studio drives up to ten laser-diode driver boards (CW, pulsed and
DC/DC types) through a USB-to-CAN serial adapter speaking SLCAN, any CAN
interface Qt SerialBus reaches (SocketCAN, PEAK, ...), or one board straight
over its mini-USB cable. The package also holds corvane-sim, a
simulated adapter with boards behind it, for use without hardware.")
find_program(CORVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
# The CAN plugins are loaded at run time: no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5serialbus5-plugins (>= 5.15)")
if(CORVANE_DPKG_SHLIBDEPS)
  # Library packages and versions as the binaries actually need them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt5widgets5 (>= 5.15), libqt5serialport5 (>= 5.15), "
         "libqt5serialbus5 (>= 5.15), libqt5network5 (>= 5.15), libqt5printsupport5 (>= 5.15), "
         "libqcustomplot2.1, libqt5gui5 (>= 5.15), libqt5core5a (>= 5.15)")
endif()

include(CPack)
