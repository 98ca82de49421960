# End-to-end tests of the program on real pseudo-terminals and against the device simulator.
if(TARGET app_main AND TARGET qorvel-devsim)
    add_executable(e2e_test ${CMAKE_CURRENT_LIST_DIR}/e2e_test.cpp)
    target_link_libraries(e2e_test PRIVATE app_main GTest::gtest Qt6::Test util)
    target_compile_definitions(e2e_test PRIVATE QORVEL_DEVSIM="$<TARGET_FILE:qorvel-devsim>")
    add_dependencies(e2e_test qorvel-devsim)
    gtest_discover_tests(e2e_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
endif()
