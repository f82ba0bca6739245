# Installation: `cmake --install <build> --prefix <dir>` puts the programs (brindle, kestra-send,
# kestra-emu), their manual pages, the desktop entry, its icon, the AppStream data, the copyright and
# the changelog in place. The Debian package (debian/, dpkg-buildpackage -us -uc -b) installs with
# these same rules.
#
# Each program's own install line sits with its target (source/app, send); the emulator ships beside
# them so that the console can be tried without a device. A program added to the package needs: its
# install(TARGETS) line, its manual page in man/ named in the list below, its name in
# tests/acceptance/install_check.py and package_check.py, and an autopkgtest in debian/tests.
# lintian-warnings.md beside this file lists what lintian still says about the package, and why.

include(GNUInstallDirs)

install(TARGETS kestra-emu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The programs link only system libraries: no run-time search path of their own in bin/.
set_target_properties(brindle kestra-emu kestra-send kestra-journal PROPERTIES INSTALL_RPATH "")
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
# Manual pages of further programs join this list.
foreach(page brindle kestra-emu kestra-send kestra-journal)
    brindle_gzip(${CMAKE_CURRENT_LIST_DIR}/man/${page}.1 ${page}.1)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
brindle_gzip(${PROJECT_SOURCE_DIR}/debian/changelog changelog)
add_custom_target(brindle-compressed-docs ALL DEPENDS ${brindle_gzipped})

# The copyright and changelog are the Debian package's own (debian/); a package build leaves them to
# debhelper, which installs them itself.
option(BRINDLE_INSTALL_DOCS "Install the copyright and changelog under share/doc/brindle" ON)
if(BRINDLE_INSTALL_DOCS)
    set(brindle_docdir ${CMAKE_INSTALL_DATADIR}/doc/brindle)
    install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright DESTINATION ${brindle_docdir})
    install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${brindle_docdir})
endif()
