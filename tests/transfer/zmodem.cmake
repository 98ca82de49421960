# ZMODEM's frames, both sides scripted and against each other, and the start recogniser.
add_executable(transfer_zmodem_tests ${CMAKE_CURRENT_LIST_DIR}/zmodem_test.cpp)
target_link_libraries(transfer_zmodem_tests PRIVATE transfer GTest::gtest_main)
gtest_discover_tests(transfer_zmodem_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

# ZMODEM through a real ser2net (RFC 2217) with qorvel-xfer on one end and lrzsz on the other.
add_executable(transfer_zmodem_ser2net_test ${CMAKE_CURRENT_LIST_DIR}/zmodem_ser2net_test.cpp)
target_link_libraries(transfer_zmodem_ser2net_test PRIVATE transfer_peer_util GTest::gtest_main)
target_compile_definitions(transfer_zmodem_ser2net_test PRIVATE QORVEL_XFER_PATH="$<TARGET_FILE:qorvel-xfer>")
add_dependencies(transfer_zmodem_ser2net_test qorvel-xfer)
gtest_discover_tests(transfer_zmodem_ser2net_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)
