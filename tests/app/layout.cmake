# The three windows at larger desktop fonts, once at scale 1 and once at scale 2 (headless).
if(TARGET app_main)
    add_executable(layout_test ${CMAKE_CURRENT_LIST_DIR}/layout_test.cpp)
    target_link_libraries(layout_test PRIVATE app_main commapi_fake GTest::gtest Qt6::Test)
    add_test(NAME layout_test COMMAND layout_test)
    add_test(NAME layout_test_scale2 COMMAND layout_test)
    set_tests_properties(layout_test PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
    set_tests_properties(layout_test_scale2 PROPERTIES
                         ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=2;QORVEL_EXPECT_SCALE=2"
                         TIMEOUT 120)
endif()
