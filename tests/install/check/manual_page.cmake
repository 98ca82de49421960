# Formats a manual page the way lintian checks it and fails on any message from man or groff.
# cmake -DPAGE= -P manual_page.cmake
cmake_minimum_required(VERSION 3.25)

find_program(MAN man)
if(NOT MAN)
    message(FATAL_ERROR "man is not installed")
endif()
set(ENV{LC_ALL} C.UTF-8)
set(ENV{MANROFFSEQ} "")
set(ENV{MANWIDTH} 80)
execute_process(COMMAND ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${PAGE}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "${PAGE}: status ${rc}\n${err}")
endif()
