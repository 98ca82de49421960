# Tests of the communications layer (real pseudo-terminals and the fake) and the main-thread
# service.
add_executable(platform_comm_tests
    ${CMAKE_CURRENT_LIST_DIR}/comm_posix_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/comm_fake_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mainthread_test.cpp)
target_link_libraries(platform_comm_tests PRIVATE commapi commapi_fake mainthread GTest::gtest_main)
gtest_discover_tests(platform_comm_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
