# What assistive technology reads of the terminal view: text, caret and change notifications.
add_executable(view_a11y_tests
    ${CMAKE_CURRENT_LIST_DIR}/view_test_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/a11y_test.cpp)
target_link_libraries(view_a11y_tests PRIVATE emulvt_view Qt6::Test GTest::gtest)
gtest_discover_tests(view_a11y_tests
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_ACCESSIBILITY=1" TIMEOUT 120
    DISCOVERY_TIMEOUT 60)
