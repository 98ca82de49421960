# The session log file: names, opening rules, time stamps, SIGKILL. The window's log files are in
# form1_test.
if(TARGET app_support)
    add_executable(session_log_test ${CMAKE_CURRENT_LIST_DIR}/session_log_test.cpp)
    target_link_libraries(session_log_test PRIVATE app_support GTest::gtest_main)
    gtest_discover_tests(session_log_test DISCOVERY_TIMEOUT 60)
endif()
