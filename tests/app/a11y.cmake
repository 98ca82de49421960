# Accessible names of the three windows' controls, found by walking the accessible tree.
if(TARGET app_main)
    add_executable(app_a11y_test ${CMAKE_CURRENT_LIST_DIR}/a11y_test.cpp)
    target_link_libraries(app_a11y_test PRIVATE app_main app_a11y commapi_fake GTest::gtest Qt6::Test)
    gtest_discover_tests(app_a11y_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_ACCESSIBILITY=1" TIMEOUT 120)
endif()
