# The hex dump's model, without a window.
if(TARGET app_hexdump)
    add_executable(hex_dump_test ${CMAKE_CURRENT_LIST_DIR}/hex_dump_test.cpp)
    target_link_libraries(hex_dump_test PRIVATE app_hexdump GTest::gtest_main)
    gtest_discover_tests(hex_dump_test DISCOVERY_TIMEOUT 60)
endif()
