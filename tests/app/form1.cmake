# Widget tests of the main window, headless, on in-memory serial ports.
if(TARGET app_main)
    add_executable(form1_test ${CMAKE_CURRENT_LIST_DIR}/form1_test.cpp)
    target_link_libraries(form1_test PRIVATE app_main commapi_fake GTest::gtest Qt6::Test)
    gtest_discover_tests(form1_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
endif()

# The View menu and the splitter of the main window.
if(TARGET app_main)
    add_executable(form1_view_test ${CMAKE_CURRENT_LIST_DIR}/form1_view_test.cpp)
    target_link_libraries(form1_view_test PRIVATE app_main commapi_fake GTest::gtest Qt6::Test)
    gtest_discover_tests(form1_view_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
endif()
