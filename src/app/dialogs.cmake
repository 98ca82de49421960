# The two dialogs of the application (serial settings, About) with the JPEG banner decoder, and the
# machine's port list that the settings dialog offers.
find_package(JPEG REQUIRED)

add_library(app_dialogs STATIC
    ${CMAKE_CURRENT_LIST_DIR}/font_scale.cpp
    ${CMAKE_CURRENT_LIST_DIR}/font_scale.h
    ${CMAKE_CURRENT_LIST_DIR}/form2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/form2.h
    ${CMAKE_CURRENT_LIST_DIR}/form2_options.cpp
    ${CMAKE_CURRENT_LIST_DIR}/form2_logging.cpp
    ${CMAKE_CURRENT_LIST_DIR}/form2_ports.cpp
    ${CMAKE_CURRENT_LIST_DIR}/form2_settings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/settings_store.cpp
    ${CMAKE_CURRENT_LIST_DIR}/settings_store.h
    ${CMAKE_CURRENT_LIST_DIR}/form3.cpp
    ${CMAKE_CURRENT_LIST_DIR}/form3.h
    ${CMAKE_CURRENT_LIST_DIR}/jpeg_image.cpp
    ${CMAKE_CURRENT_LIST_DIR}/jpeg_image.h
    ${CMAKE_CURRENT_LIST_DIR}/port_list.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_list.h
    ${CMAKE_CURRENT_LIST_DIR}/resources/dialogs.qrc)
target_include_directories(app_dialogs PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(app_dialogs PUBLIC Qt6::Widgets app_desktop app_support ports PRIVATE JPEG::JPEG)

# The manual is opened from the working folder; keep a copy next to the program in the build tree.
configure_file(${CMAKE_CURRENT_LIST_DIR}/help.html ${CMAKE_CURRENT_BINARY_DIR}/help.html COPYONLY)
