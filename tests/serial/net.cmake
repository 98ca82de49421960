# The serial component on network ports, against a real ser2net serving a pseudo-terminal.
add_executable(serial_net_test ${CMAKE_CURRENT_LIST_DIR}/xcomm_net_test.cpp)
target_link_libraries(serial_net_test PRIVATE serial GTest::gtest_main util)
gtest_discover_tests(serial_net_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)
