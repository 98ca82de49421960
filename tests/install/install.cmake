# Installation: the menu entry and AppStream data validate, an install into an empty staging prefix
# holds exactly the expected files (only for the programs this build has), and the Debian package
# declares its run-time dependencies.
set(QORVEL_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(QORVEL_INSTALL_CHECKS ${CMAKE_CURRENT_LIST_DIR}/check)

# The validators are looked up on PATH when the test runs; a missing one fails the test by name.
add_test(NAME install.desktop_entry_validates
         COMMAND desktop-file-validate ${QORVEL_PACKAGING_DIR}/qorvel-terminal.desktop)
# Hints are fine (TerminalEmulator suggests System too); warnings and errors are not.
set_tests_properties(install.desktop_entry_validates PROPERTIES FAIL_REGULAR_EXPRESSION "error:|warning:")

add_test(NAME install.metainfo_validates
         COMMAND appstreamcli validate --no-net --strict --explain
                 ${QORVEL_PACKAGING_DIR}/org.example.QorvelTerminal.metainfo.xml)

# What an install must contain, relative to the prefix.
set(expected "")
if(TARGET qorvel-terminal)
    list(APPEND expected
         bin/qorvel-terminal
         share/qorvel-terminal/help.html
         share/applications/qorvel-terminal.desktop
         share/metainfo/org.example.QorvelTerminal.metainfo.xml
         share/icons/hicolor/scalable/apps/qorvel-terminal.svg
         share/icons/hicolor/48x48/apps/qorvel-terminal.png
         share/icons/hicolor/128x128/apps/qorvel-terminal.png
         share/man/man1/qorvel-terminal.1.gz
         share/doc/qorvel-terminal/copyright
         share/doc/qorvel-terminal/changelog.gz)
endif()
foreach(program qorvel-vtdump qorvel-devsim)
    if(TARGET ${program})
        list(APPEND expected bin/${program} share/man/man1/${program}.1.gz)
    endif()
endforeach()
list(SORT expected)
list(JOIN expected "\n" expected_text)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/expected_files.txt "${expected_text}\n")

add_test(NAME install.staged_prefix
         COMMAND ${CMAKE_COMMAND}
                 -DBUILD_DIR=${CMAKE_BINARY_DIR}
                 -DCONFIG=$<CONFIG>
                 -DSTAGING=${CMAKE_CURRENT_BINARY_DIR}/staging
                 -DEXPECTED_FILE=${CMAKE_CURRENT_BINARY_DIR}/expected_files.txt
                 -DVERSION=${PROJECT_VERSION}
                 -P ${QORVEL_INSTALL_CHECKS}/staged_install.cmake)
set_tests_properties(install.staged_prefix PROPERTIES TIMEOUT 120)

# The package is only worth checking with the program it is named after.
find_program(QORVEL_DPKG_DEB dpkg-deb)
if(TARGET qorvel-terminal AND QORVEL_DPKG_DEB)
    add_test(NAME install.debian_package
             COMMAND ${CMAKE_COMMAND}
                     -DCPACK=${CMAKE_CPACK_COMMAND}
                     -DDPKG_DEB=${QORVEL_DPKG_DEB}
                     -DCPACK_CONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake
                     -DOUT_DIR=${CMAKE_CURRENT_BINARY_DIR}/deb
                     -DEXPECTED_FILE=${CMAKE_CURRENT_BINARY_DIR}/expected_files.txt
                     -DVERSION=${PROJECT_VERSION}
                     -DCHANGELOG=${QORVEL_PACKAGING_DIR}/changelog
                     -P ${QORVEL_INSTALL_CHECKS}/debian_package.cmake)
    set_tests_properties(install.debian_package PROPERTIES TIMEOUT 300 FIXTURES_SETUP debian_package)

    # What Debian's own checker says of the package built above: no errors and no warnings.
    add_test(NAME install.debian_package_lintian
             COMMAND ${CMAKE_COMMAND} -DDEB_DIR=${CMAKE_CURRENT_BINARY_DIR}/deb
                     -P ${QORVEL_INSTALL_CHECKS}/lintian.cmake)
    set_tests_properties(install.debian_package_lintian PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED debian_package)
endif()

# The manual pages format without a warning from man, as lintian checks them.
foreach(program qorvel-terminal qorvel-vtdump qorvel-devsim)
    if(TARGET ${program})
        add_test(NAME install.manual_page_${program}
                 COMMAND ${CMAKE_COMMAND} -DPAGE=${QORVEL_PACKAGING_DIR}/man/${program}.1
                         -P ${QORVEL_INSTALL_CHECKS}/manual_page.cmake)
    endif()
endforeach()
