# The log text beyond its memory limit: spill to an unnamed file, read-back, full disk.
if(TARGET app_support)
    add_executable(log_text_test ${CMAKE_CURRENT_LIST_DIR}/log_text_test.cpp)
    target_link_libraries(log_text_test PRIVATE app_support GTest::gtest_main)
    gtest_discover_tests(log_text_test DISCOVERY_TIMEOUT 60)
endif()
