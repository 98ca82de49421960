# Installation as a desktop program (programs, help page, menu entry, icons, AppStream data) and the
# Debian package. Included at the end of the top-level CMakeLists.txt, once every target is defined;
# each rule is guarded so a partial tree (no GUI, no app yet) still configures and installs.
#
# The directories are fixed rather than taken from GNUInstallDirs: qorvel-terminal finds its help
# page at ../share/qorvel-terminal/help.html relative to its own folder, so bin/ and share/ must
# stay siblings under the prefix.
set(QORVEL_INSTALL_BINDIR bin)
set(QORVEL_INSTALL_DATADIR share)
set(QORVEL_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

# qorvel-devsim has its own rule in tools/devsim.
foreach(program qorvel-terminal qorvel-vtdump)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${QORVEL_INSTALL_BINDIR})
    endif()
endforeach()

if(TARGET qorvel-terminal)
    install(FILES ${CMAKE_SOURCE_DIR}/src/app/help.html
            DESTINATION ${QORVEL_INSTALL_DATADIR}/qorvel-terminal)
    install(FILES ${QORVEL_PACKAGING_DIR}/qorvel-terminal.desktop
            DESTINATION ${QORVEL_INSTALL_DATADIR}/applications)
    install(FILES ${QORVEL_PACKAGING_DIR}/org.example.QorvelTerminal.metainfo.xml
            DESTINATION ${QORVEL_INSTALL_DATADIR}/metainfo)
    install(FILES ${QORVEL_PACKAGING_DIR}/icons/qorvel-terminal.svg
            DESTINATION ${QORVEL_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    foreach(size 48 128)
        install(FILES ${QORVEL_PACKAGING_DIR}/icons/qorvel-terminal-${size}.png
                DESTINATION ${QORVEL_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME qorvel-terminal.png)
    endforeach()
endif()

# Manual pages and the package's changelog, compressed as Debian ships them (-n: no name or time
# stamp in the header, so the same sources give the same bytes). The copyright file stays plain.
find_program(QORVEL_GZIP gzip REQUIRED)
set(QORVEL_GZIPPED_DIR ${CMAKE_BINARY_DIR}/packaging)
set(QORVEL_GZIPPED "")
function(qorvel_gzip source output)
    add_custom_command(OUTPUT ${QORVEL_GZIPPED_DIR}/${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QORVEL_GZIPPED_DIR}
        COMMAND sh -c "${QORVEL_GZIP} -9nc '${source}' > '${QORVEL_GZIPPED_DIR}/${output}'"
        DEPENDS ${source} VERBATIM)
    set(QORVEL_GZIPPED ${QORVEL_GZIPPED} ${QORVEL_GZIPPED_DIR}/${output} PARENT_SCOPE)
endfunction()
foreach(program qorvel-terminal qorvel-vtdump qorvel-devsim)
    if(TARGET ${program})
        qorvel_gzip(${QORVEL_PACKAGING_DIR}/man/${program}.1 ${program}.1.gz)
        install(FILES ${QORVEL_GZIPPED_DIR}/${program}.1.gz DESTINATION ${QORVEL_INSTALL_DATADIR}/man/man1)
    endif()
endforeach()
if(TARGET qorvel-terminal)
    qorvel_gzip(${QORVEL_PACKAGING_DIR}/changelog changelog.gz)
    install(FILES ${QORVEL_GZIPPED_DIR}/changelog.gz ${QORVEL_PACKAGING_DIR}/copyright
            DESTINATION ${QORVEL_INSTALL_DATADIR}/doc/qorvel-terminal)
endif()
add_custom_target(qorvel_gzipped ALL DEPENDS ${QORVEL_GZIPPED})

# Debian package: cpack -G DEB in the build folder gives qorvel-terminal_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qorvel-terminal)
set(CPACK_PACKAGE_VENDOR "Qorvel Terminal developers")
set(CPACK_PACKAGE_CONTACT "Qorvel Terminal developers <qorvel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial-port terminal for talking to devices")
# Debian shows the long description as typed: one line per line, under 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Qorvel Terminal connects to a device over RS-232 and shows what it sends in a"
    "VT100/ANSI terminal view. It sends typed command lines with a history, control"
    "codes, and text files line by line gated on the device's prompt, and saves a"
    "log of all received text."
    "Includes qorvel-vtdump, which replays a captured byte stream onto a terminal"
    "screen, and qorvel-devsim, a virtual serial device.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Release builds carry debug info; a package ships stripped programs.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Qorvel Terminal developers <qorvel@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://example.org/qorvel-terminal)
# Library dependencies come from dpkg-shlibdeps. The Qt platform plugins (xcb, wayland) are loaded
# at run time, so no linker dependency names them, and Debian only recommends them: without them
# the program cannot open a window.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET qorvel-terminal)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
include(CPack)
