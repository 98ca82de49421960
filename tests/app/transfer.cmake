# File transfer in the main window against lrzsz on pseudo-terminals.
if(TARGET app_main)
    add_executable(transfer_test ${CMAKE_CURRENT_LIST_DIR}/transfer_test.cpp)
    target_link_libraries(transfer_test PRIVATE app_main transfer_peer_util GTest::gtest Qt6::Test)
    gtest_discover_tests(transfer_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 180)
endif()
