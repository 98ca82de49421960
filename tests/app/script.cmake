# Widget tests of the script sender, the prompt list, Save Log, Clear Terminal, Help and About, with
# the main window talking to a real pseudo-terminal.
if(TARGET app_main)
    add_executable(script_test ${CMAKE_CURRENT_LIST_DIR}/script_test.cpp)
    target_link_libraries(script_test PRIVATE app_main GTest::gtest Qt6::Test util)
    # Help falls back to the page installed next to the program; the test binary gets one too.
    configure_file(${CMAKE_SOURCE_DIR}/src/app/help.html ${CMAKE_CURRENT_BINARY_DIR}/help.html COPYONLY)
    gtest_discover_tests(script_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
endif()
