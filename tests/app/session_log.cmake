# The session log file: names, opening rules, time stamps, SIGKILL; and the window's log files
# against Save Log, across reconnects and losses, and on a full disk.
if(TARGET app_support)
    add_executable(session_log_test ${CMAKE_CURRENT_LIST_DIR}/session_log_test.cpp)
    target_link_libraries(session_log_test PRIVATE app_support GTest::gtest_main)
    gtest_discover_tests(session_log_test DISCOVERY_TIMEOUT 60)
endif()
if(TARGET app_main)
    add_executable(log_files_test ${CMAKE_CURRENT_LIST_DIR}/log_files_test.cpp)
    target_link_libraries(log_files_test PRIVATE app_main commapi_fake GTest::gtest Qt6::Test)
    gtest_discover_tests(log_files_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
endif()
