# The serial-port list and hot-plug monitor against a sandboxed /sys and /dev (umockdev), read by
# the real libudev. The program runs under umockdev-wrapper, whose preload provides the sandbox.
# Sanitizer builds run only the cases that need no sandbox: the preload cannot come after the
# sanitizer runtime.
if(TARGET ports)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
    add_executable(ports_test ${CMAKE_CURRENT_LIST_DIR}/ports_test.cpp)
    target_link_libraries(ports_test PRIVATE ports PkgConfig::UMOCKDEV GTest::gtest_main)
    # The termios device's line control on an emulated adapter; needs the sandbox throughout.
    add_executable(comm_lines_test ${CMAKE_CURRENT_LIST_DIR}/comm_lines_test.cpp)
    target_link_libraries(comm_lines_test PRIVATE commapi PkgConfig::UMOCKDEV GTest::gtest_main)
    if(QORVEL_SANITIZE OR QORVEL_TSAN)
        gtest_discover_tests(ports_test TEST_FILTER "PortDescription.*:PortNames.*"
                             DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
    else()
        find_program(QORVEL_UMOCKDEV_WRAPPER umockdev-wrapper REQUIRED)
        # The --list case runs the program when it is built; without it that case is left out.
        if(TARGET qorvel-terminal)
            target_compile_definitions(ports_test PRIVATE QORVEL_TERMINAL="$<TARGET_FILE:qorvel-terminal>")
            add_dependencies(ports_test qorvel-terminal)
        endif()
        set_target_properties(ports_test comm_lines_test PROPERTIES CROSSCOMPILING_EMULATOR
                                                                   ${QORVEL_UMOCKDEV_WRAPPER})
        gtest_discover_tests(ports_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
        gtest_discover_tests(comm_lines_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
    endif()
endif()
