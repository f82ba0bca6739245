# Installation and the Debian package.
#
#   cmake --install <build> --prefix <dir>     bin/brindle, bin/kestra-send, bin/kestra-emu, the desktop entry, the icon
#   (cd <build> && cpack -G DEB)               brindle_<version>_<arch>.deb
#
# The console's own install line sits with its target (source/app); the emulator ships beside it so
# that the console can be tried without a device.

include(GNUInstallDirs)

install(TARGETS kestra-emu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The programs link only system libraries: no run-time search path of their own in bin/.
set_target_properties(brindle kestra-emu kestra-send PROPERTIES INSTALL_RPATH "")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/brindle.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/brindle.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_PACKAGE_NAME brindle)
set(CPACK_PACKAGE_VENDOR "Brindle")
set(CPACK_PACKAGE_CONTACT "Brindle maintainers <brindle@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator console for Kestra rewritable-card reader/writers")
set(CPACK_PACKAGE_DESCRIPTION "Brindle reads and writes a card's magnetic stripe, prints on and erases
the card's rewritable surface, ejects the card and sends any device
command to a Kestra reader/writer on a serial port or over TCP.
kestra-emu, an emulated device, lets the console be tried without
hardware.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The fonts that the window's Japanese and Arial faces map to: no library dependency finds those.
set(brindle_fonts "fonts-ipafont-gothic, fonts-liberation2")
find_program(BRINDLE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(BRINDLE_DPKG_SHLIBDEPS)
    # The Qt libraries and the C and C++ run-time, with the versions this build needs.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${brindle_fonts}")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), \
libqt6serialport6 (>= 6.4), libstdc++6, libc6, ${brindle_fonts}")
endif()

include(CPack)
