# The hex dump: the model without Qt (its time stamps are the session log's), the widget that shows
# it, and the main window's View > Hex Dump, which joins the main window's library.
if(TARGET app_support)
    add_library(app_hexdump STATIC
        ${CMAKE_CURRENT_LIST_DIR}/hex_dump.cpp
        ${CMAKE_CURRENT_LIST_DIR}/hex_dump.h
        ${CMAKE_CURRENT_LIST_DIR}/hex_dump_view.cpp
        ${CMAKE_CURRENT_LIST_DIR}/hex_dump_view.h)
    target_include_directories(app_hexdump PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(app_hexdump PUBLIC app_support Qt6::Widgets)
endif()
if(TARGET app_main AND TARGET app_hexdump)
    target_sources(app_main PRIVATE ${CMAKE_CURRENT_LIST_DIR}/form1_hexdump.cpp)
    target_link_libraries(app_main PUBLIC app_hexdump)
endif()
