# The port list in the settings dialog and the main window's reconnect cycle, against emulated
# adapters in a sandboxed /sys and /dev (umockdev; the program runs under umockdev-wrapper).
if(TARGET app_main AND NOT QORVEL_SANITIZE AND NOT QORVEL_TSAN)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
    find_program(QORVEL_UMOCKDEV_WRAPPER umockdev-wrapper REQUIRED)
    add_executable(app_ports_test ${CMAKE_CURRENT_LIST_DIR}/ports_test.cpp)
    target_include_directories(app_ports_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/platform)
    target_link_libraries(app_ports_test PRIVATE app_main PkgConfig::UMOCKDEV GTest::gtest Qt6::Test)
    set_target_properties(app_ports_test PROPERTIES CROSSCOMPILING_EMULATOR ${QORVEL_UMOCKDEV_WRAPPER})
    gtest_discover_tests(app_ports_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
endif()
