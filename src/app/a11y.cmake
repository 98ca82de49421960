# Names for assistive technology of the main window's controls; app_main links it.
add_library(app_a11y STATIC
    ${CMAKE_CURRENT_LIST_DIR}/accessible_names.cpp
    ${CMAKE_CURRENT_LIST_DIR}/accessible_names.h)
target_include_directories(app_a11y PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(app_a11y PUBLIC Qt6::Widgets)

