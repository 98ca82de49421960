# The terminal view: the Qt widget over the screen model, its glyph atlas and fonts, and its face
# for assistive technology.
if(QORVEL_GUI)
    add_library(emulvt_view STATIC
        ${CMAKE_CURRENT_LIST_DIR}/emul_vt.cpp
        ${CMAKE_CURRENT_LIST_DIR}/emul_vt.h
        ${CMAKE_CURRENT_LIST_DIR}/emul_vt_internal.h
        ${CMAKE_CURRENT_LIST_DIR}/emul_vt_keys.cpp
        ${CMAKE_CURRENT_LIST_DIR}/emul_vt_paint.cpp
        ${CMAKE_CURRENT_LIST_DIR}/emul_vt_scroll.cpp
        ${CMAKE_CURRENT_LIST_DIR}/emul_vt_select.cpp
        ${CMAKE_CURRENT_LIST_DIR}/view_accessible.cpp
        ${CMAKE_CURRENT_LIST_DIR}/view_accessible.h
        ${CMAKE_CURRENT_LIST_DIR}/view_font_5x12.cpp
        ${CMAKE_CURRENT_LIST_DIR}/view_glyphs.cpp
        ${CMAKE_CURRENT_LIST_DIR}/view_glyphs.h)
    target_include_directories(emulvt_view PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(emulvt_view PUBLIC emulvt_core emulvt_keys_qt Qt6::Widgets)
endif()
