# Tests of the plain C++ keyboard parts: function-key tables, key-down steps, raw log.
add_executable(keys_tests
    ${CMAKE_CURRENT_LIST_DIR}/keys_fkey_tables_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/keys_keyboard_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/keys_raw_log_test.cpp)
target_link_libraries(keys_tests PRIVATE emulvt_keys GTest::gtest_main)
gtest_discover_tests(keys_tests)
