# qorvel-devsim: the device logic on its own, and the program on a real pseudo-terminal.
if(TARGET qorvel-devsim)
    add_executable(devsim_test ${CMAKE_CURRENT_LIST_DIR}/devsim_device_test.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/devsim_process_test.cpp)
    target_link_libraries(devsim_test PRIVATE devsim_device GTest::gtest_main Threads::Threads)
    target_compile_definitions(devsim_test PRIVATE QORVEL_DEVSIM_PATH="$<TARGET_FILE:qorvel-devsim>")
    add_dependencies(devsim_test qorvel-devsim)
    gtest_discover_tests(devsim_test PROPERTIES TIMEOUT 60)
endif()
