# Unit tests of the terminal emulation engine (screen model and interpreter).
add_executable(emulvt_core_tests
    ${CMAKE_CURRENT_LIST_DIR}/engine_screen_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine_interpreter_test.cpp)
target_link_libraries(emulvt_core_tests PRIVATE emulvt_core GTest::gtest_main)
target_compile_definitions(emulvt_core_tests PRIVATE QORVEL_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
gtest_discover_tests(emulvt_core_tests)
