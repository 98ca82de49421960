# Unit tests of the application's support code: text files, log text, error-box text, conversions.
if(TARGET app_support)
    add_executable(app_units_test ${CMAKE_CURRENT_LIST_DIR}/app_units_test.cpp)
    target_link_libraries(app_units_test PRIVATE app_support GTest::gtest_main)
    gtest_discover_tests(app_units_test DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
