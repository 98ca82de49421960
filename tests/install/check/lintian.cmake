# Runs lintian on the Debian package in DEB_DIR (built by the install.debian_package test) and fails
# on any error or warning; informational tags are printed but pass.
# cmake -DDEB_DIR= -P lintian.cmake
cmake_minimum_required(VERSION 3.25)

find_program(LINTIAN lintian)
if(NOT LINTIAN)
    message(FATAL_ERROR "lintian is not installed (scripts/install-deps.sh installs it)")
endif()
file(GLOB debs ${DEB_DIR}/qorvel-terminal_*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one qorvel-terminal_*.deb in ${DEB_DIR}, found: ${debs}")
endif()
execute_process(COMMAND ${LINTIAN} --fail-on error,warning --no-tag-display-limit --info ${debs}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
# lintian also notes on stderr that it runs as root (CI does); that is no finding about the package.
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lintian: status ${rc}\n${out}${err}")
endif()
message(STATUS "lintian: no errors or warnings\n${out}")
