# Builds the Debian package into OUT_DIR and checks its control fields and contents: the library
# dependencies found by dpkg-shlibdeps (Qt 6, libjpeg) and the Qt platform plugins, the Debian
# file name, and every installed file under /usr.
# The package's changelog starts with an entry for the version being packaged.
# cmake -DCPACK= -DDPKG_DEB= -DCPACK_CONFIG= -DOUT_DIR= -DEXPECTED_FILE= -DVERSION= -DCHANGELOG=
#       -P debian_package.cmake
cmake_minimum_required(VERSION 3.25)

set(failures "")
macro(fail text)
    string(APPEND failures "  ${text}\n")
endmacro()

file(REMOVE_RECURSE ${OUT_DIR})
execute_process(COMMAND ${CPACK} -G DEB --config ${CPACK_CONFIG} -B ${OUT_DIR}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cpack failed (${rc}):\n${out}")
endif()

file(GLOB debs ${OUT_DIR}/qorvel-terminal_*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one qorvel-terminal_*.deb in ${OUT_DIR}, found: ${debs}\n${out}")
endif()
get_filename_component(deb_name ${debs} NAME)
if(NOT deb_name MATCHES "^qorvel-terminal_${VERSION}_[a-z0-9]+\\.deb$")
    fail("file name ${deb_name}")
endif()

function(control_field field out_var)
    execute_process(COMMAND ${DPKG_DEB} --field ${debs} ${field}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(${out_var} "${value}" PARENT_SCOPE)
endfunction()

control_field(Package package)
control_field(Version version)
control_field(Section section)
control_field(Maintainer maintainer)
control_field(Depends depends)
if(NOT package STREQUAL "qorvel-terminal")
    fail("Package: ${package}")
endif()
if(NOT version STREQUAL "${VERSION}")
    fail("Version: ${version}")
endif()
if(NOT section STREQUAL "comm")
    fail("Section: ${section}")
endif()
if(NOT maintainer STREQUAL "Qorvel Terminal developers <qorvel@example.org>")
    fail("Maintainer: ${maintainer}")
endif()
# Package names as whole entries of the comma-separated list (a version constraint may follow).
foreach(needed libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo qt6-qpa-plugins)
    string(REPLACE "+" "\\+" pattern "${needed}")
    if(NOT depends MATCHES "(^|, )${pattern}( \\(|,|$)")
        fail("Depends lacks ${needed}: ${depends}")
    endif()
endforeach()

execute_process(COMMAND ${DPKG_DEB} --contents ${debs} RESULT_VARIABLE rc OUTPUT_VARIABLE listing)
file(STRINGS ${EXPECTED_FILE} expected)
foreach(f IN LISTS expected)
    string(REPLACE "." "\\." pattern "./usr/${f}")
    if(NOT listing MATCHES " ${pattern}\n")
        fail("package lacks /usr/${f}")
    endif()
endforeach()
file(STRINGS ${CHANGELOG} newest LIMIT_COUNT 1)
string(REPLACE "." "\\." version_pattern "${VERSION}")
if(NOT newest MATCHES "^qorvel-terminal \\(${version_pattern}\\) ")
    fail("changelog's newest entry is '${newest}', the package is ${VERSION}")
endif()
if(failures)
    message(FATAL_ERROR "${deb_name}:\n${failures}")
endif()
message(STATUS "${deb_name}: Depends: ${depends}")
