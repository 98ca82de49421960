# Saved defaults, sessions, the command line over them and the port history (headless).
if(TARGET app_main)
    add_executable(settings_test ${CMAKE_CURRENT_LIST_DIR}/settings_test.cpp)
    target_link_libraries(settings_test PRIVATE app_main commapi_fake GTest::gtest Qt6::Test util)
    target_compile_definitions(settings_test PRIVATE QORVEL_TERMINAL="$<TARGET_FILE:qorvel-terminal>")
    add_dependencies(settings_test qorvel-terminal)
    gtest_discover_tests(settings_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
endif()
