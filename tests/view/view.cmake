# Tests of the terminal view. The view's sources are compiled in with library assertions so that
# any index outside the position tables aborts the test.
add_executable(view_tests
    ${CMAKE_CURRENT_LIST_DIR}/view_test_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/view_test_support.h
    ${CMAKE_CURRENT_LIST_DIR}/view_paint_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/view_update_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/view_glyphs_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/view_select_test.cpp
    ${CMAKE_SOURCE_DIR}/src/emulvt/emul_vt.cpp
    ${CMAKE_SOURCE_DIR}/src/emulvt/emul_vt.h
    ${CMAKE_SOURCE_DIR}/src/emulvt/emul_vt_internal.h
    ${CMAKE_SOURCE_DIR}/src/emulvt/emul_vt_keys.cpp
    ${CMAKE_SOURCE_DIR}/src/emulvt/emul_vt_paint.cpp
    ${CMAKE_SOURCE_DIR}/src/emulvt/emul_vt_scroll.cpp
    ${CMAKE_SOURCE_DIR}/src/emulvt/emul_vt_select.cpp
    ${CMAKE_SOURCE_DIR}/src/emulvt/view_accessible.cpp
    ${CMAKE_SOURCE_DIR}/src/emulvt/view_accessible.h
    ${CMAKE_SOURCE_DIR}/src/emulvt/view_glyphs.cpp
    ${CMAKE_SOURCE_DIR}/src/emulvt/view_font_5x12.cpp
    ${CMAKE_SOURCE_DIR}/src/emulvt/view_glyphs.h)
target_compile_definitions(view_tests PRIVATE _GLIBCXX_ASSERTIONS)
target_include_directories(view_tests PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(view_tests PRIVATE emulvt_core emulvt_keys_qt Qt6::Widgets Qt6::Test GTest::gtest)
gtest_discover_tests(view_tests
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120
    DISCOVERY_TIMEOUT 60)
