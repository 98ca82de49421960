# Tests of the serial port component: against the in-memory device, and against pseudo-terminals.
add_executable(serial_fake_test ${CMAKE_CURRENT_LIST_DIR}/xcomm_fake_test.cpp)
target_link_libraries(serial_fake_test PRIVATE serial commapi_fake GTest::gtest_main)
gtest_discover_tests(serial_fake_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

add_executable(serial_pty_test ${CMAKE_CURRENT_LIST_DIR}/xcomm_pty_test.cpp)
target_link_libraries(serial_pty_test PRIVATE serial GTest::gtest_main util)
gtest_discover_tests(serial_pty_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)

add_executable(serial_line_settings_test ${CMAKE_CURRENT_LIST_DIR}/line_settings_test.cpp)
target_link_libraries(serial_line_settings_test PRIVATE serial GTest::gtest_main)
gtest_discover_tests(serial_line_settings_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
