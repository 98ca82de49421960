# Widget tests of the settings and About dialogs and of the banner decoder (headless).
add_executable(dialogs_test ${CMAKE_CURRENT_LIST_DIR}/dialogs_test.cpp)
target_link_libraries(dialogs_test PRIVATE app_dialogs Qt6::Test Qt6::Widgets)
add_test(NAME dialogs_test COMMAND dialogs_test)
set_tests_properties(dialogs_test PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
