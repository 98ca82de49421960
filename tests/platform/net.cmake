# Tests of the network ports: the Telnet/RFC 2217 layer without sockets, and the socket device
# against local servers.
add_executable(platform_net_tests
    ${CMAKE_CURRENT_LIST_DIR}/telnet_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/comm_net_test.cpp)
target_link_libraries(platform_net_tests PRIVATE commapi GTest::gtest_main)
gtest_discover_tests(platform_net_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
