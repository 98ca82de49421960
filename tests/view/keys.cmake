# Keyboard tests that need Qt: the key-event mapping (no widget) and the keyboard of a focused view.
add_executable(keys_qt_tests ${CMAKE_CURRENT_LIST_DIR}/keys_qt_mapping_test.cpp)
target_link_libraries(keys_qt_tests PRIVATE emulvt_keys_qt GTest::gtest_main)
gtest_discover_tests(keys_qt_tests PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)

add_executable(keys_view_tests ${CMAKE_CURRENT_LIST_DIR}/view_test_main.cpp ${CMAKE_CURRENT_LIST_DIR}/keys_view_test.cpp)
target_link_libraries(keys_view_tests PRIVATE emulvt_view Qt6::Test GTest::gtest)
gtest_discover_tests(keys_view_tests PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120
    DISCOVERY_TIMEOUT 60)

