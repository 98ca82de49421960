# ZMODEM's frames, both sides scripted and against each other, and the start recogniser.
add_executable(transfer_zmodem_tests ${CMAKE_CURRENT_LIST_DIR}/zmodem_test.cpp)
target_link_libraries(transfer_zmodem_tests PRIVATE transfer GTest::gtest_main)
gtest_discover_tests(transfer_zmodem_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
