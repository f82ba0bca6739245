# Installation and the Debian package.
#
#   cmake --install <build> --prefix <dir>     the programs (brindle, kestra-send, kestra-emu), their
#                                              manual pages, the desktop entry, its icon, the
#                                              AppStream data, copyright and changelog
#   (cd <build> && cpack -G DEB)               brindle_<version>_<arch>.deb
#
# The console's own install line sits with its target (source/app); the emulator ships beside it so
# that the console can be tried without a device. lintian-warnings.md beside this file lists what
# lintian still says about the package, and why it stays.

include(GNUInstallDirs)

install(TARGETS kestra-emu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The programs link only system libraries: no run-time search path of their own in bin/.
set_target_properties(brindle kestra-emu kestra-send PROPERTIES INSTALL_RPATH "")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${BRINDLE_DESKTOP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${BRINDLE_DESKTOP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${BRINDLE_DESKTOP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages and the changelog go in compressed at the highest level and without a time stamp
# (gzip -9n), as Debian wants them.
set(brindle_gzipped)
function(brindle_gzip source name)
    set(copy ${CMAKE_BINARY_DIR}/packaging/${name})
    add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
        COMMAND gzip -9nf ${copy}
        DEPENDS ${source} VERBATIM)
    set(brindle_gzipped ${brindle_gzipped} ${copy}.gz PARENT_SCOPE)
endfunction()
foreach(page brindle kestra-emu kestra-send kestra-journal)
    brindle_gzip(${CMAKE_CURRENT_LIST_DIR}/man/${page}.1 ${page}.1)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
brindle_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog changelog)
add_custom_target(brindle-compressed-docs ALL DEPENDS ${brindle_gzipped})

set(brindle_docdir ${CMAKE_INSTALL_DATADIR}/doc/brindle)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${brindle_docdir})
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${brindle_docdir})

set(CPACK_PACKAGE_NAME brindle)
set(CPACK_PACKAGE_VENDOR "The Brindle developers")
# The maintainer is the project, reached at its shared address, never one person.
set(CPACK_PACKAGE_CONTACT "Brindle maintainers <brindle@example.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for Kestra rewritable-card reader/writers")
set(CPACK_PACKAGE_DESCRIPTION "With Brindle an engineer or operator drives a Kestra rewritable-card
reader/writer from the desktop: read and write the card's magnetic
stripe, print on and erase its rewritable surface, eject it, and send
any device command by hand, over a serial port (a USB adapter too) or
the network. Every command shows what was sent, what the device
answered and whether it worked.
.
kestra-send does the same from scripts, test rigs and CI: one command,
named card operations or a script of them, with output for people or
JSON. The package also holds kestra-emu, an emulated device for trying
both without hardware.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
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

# Qt's Wayland plugin: with it the console runs natively on a Wayland desktop, without it through
# XWayland. Wanted, not needed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)
