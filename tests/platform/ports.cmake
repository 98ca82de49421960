# The serial-port list and hot-plug monitor against a sandboxed /sys and /dev (umockdev), read by
# the real libudev. The program runs under umockdev-wrapper, whose preload provides the sandbox.
# Not in sanitizer builds: the preload cannot come after the sanitizer runtime.
if(TARGET ports AND NOT QORVEL_SANITIZE AND NOT QORVEL_TSAN)
    pkg_check_modules(UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
    find_program(QORVEL_UMOCKDEV_WRAPPER umockdev-wrapper REQUIRED)

    add_executable(ports_test ${CMAKE_CURRENT_LIST_DIR}/ports_test.cpp)
    target_link_libraries(ports_test PRIVATE ports PkgConfig::UMOCKDEV GTest::gtest_main)
    # The --list case runs the program when it is built; without it that case is left out.
    if(TARGET qorvel-terminal)
        target_compile_definitions(ports_test PRIVATE QORVEL_TERMINAL="$<TARGET_FILE:qorvel-terminal>")
        add_dependencies(ports_test qorvel-terminal)
    endif()
    set_target_properties(ports_test PROPERTIES CROSSCOMPILING_EMULATOR ${QORVEL_UMOCKDEV_WRAPPER})
    gtest_discover_tests(ports_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
endif()
