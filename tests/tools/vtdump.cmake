# Black-box tests of qorvel-vtdump: they run the built tool as a user would.
add_executable(vtdump_tests ${CMAKE_CURRENT_LIST_DIR}/vtdump_test.cpp)
target_link_libraries(vtdump_tests PRIVATE GTest::gtest_main)
target_compile_definitions(vtdump_tests PRIVATE
    QORVEL_VTDUMP="$<TARGET_FILE:qorvel-vtdump>"
    QORVEL_SAMPLES="${CMAKE_SOURCE_DIR}/samples")
add_dependencies(vtdump_tests qorvel-vtdump)
gtest_discover_tests(vtdump_tests)
