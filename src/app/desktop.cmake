# Where the windows meet the desktop (message boxes, file dialogs, links, dialog placement); the
# application support code and the dialogs both use it.
add_library(app_desktop STATIC
    ${CMAKE_CURRENT_LIST_DIR}/desktop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/desktop.h)
target_include_directories(app_desktop PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(app_desktop PUBLIC Qt6::Widgets)
