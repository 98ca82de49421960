# The application: support code (text files, log text, application object, string grid), the main
# window, and the program qorvel-terminal.
if(TARGET mainthread)
add_library(app_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/application.cpp
    ${CMAKE_CURRENT_LIST_DIR}/application.h
    ${CMAKE_CURRENT_LIST_DIR}/log_text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/log_text.h
    ${CMAKE_CURRENT_LIST_DIR}/session_log.cpp
    ${CMAKE_CURRENT_LIST_DIR}/session_log.h
    ${CMAKE_CURRENT_LIST_DIR}/string_grid.cpp
    ${CMAKE_CURRENT_LIST_DIR}/string_grid.h
    ${CMAKE_CURRENT_LIST_DIR}/text_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/text_file.h)
target_include_directories(app_support PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(app_support PUBLIC Qt6::Widgets app_desktop platform_sinks mainthread)
endif()

# The main window needs the serial driver, the terminal view and the dialogs; until all three are in
# the tree only the support library is built.
if(TARGET app_support AND TARGET serial AND TARGET emulvt_view AND EXISTS ${CMAKE_CURRENT_LIST_DIR}/dialogs.cmake)
    add_library(app_main STATIC
        ${CMAKE_CURRENT_LIST_DIR}/form1.cpp
        ${CMAKE_CURRENT_LIST_DIR}/form1.h
        ${CMAKE_CURRENT_LIST_DIR}/form1_charset.cpp
        ${CMAKE_CURRENT_LIST_DIR}/form1_script.cpp
        ${CMAKE_CURRENT_LIST_DIR}/form1_tools.cpp
        ${CMAKE_CURRENT_LIST_DIR}/form1_view.cpp
        ${CMAKE_CURRENT_LIST_DIR}/form1_line.cpp
        ${CMAKE_CURRENT_LIST_DIR}/form1_reconnect.cpp
        ${CMAKE_CURRENT_LIST_DIR}/form1_transfer.cpp
        ${CMAKE_CURRENT_LIST_DIR}/transfer_window.cpp
        ${CMAKE_CURRENT_LIST_DIR}/transfer_window.h
        ${CMAKE_CURRENT_LIST_DIR}/form1_sessions.cpp
        ${CMAKE_CURRENT_LIST_DIR}/startup.cpp
        ${CMAKE_CURRENT_LIST_DIR}/startup.h
        ${CMAKE_CURRENT_LIST_DIR}/log_files.cpp
        ${CMAKE_CURRENT_LIST_DIR}/log_files.h
        ${CMAKE_CURRENT_LIST_DIR}/open_failure.cpp
        ${CMAKE_CURRENT_LIST_DIR}/open_failure.h)
    target_include_directories(app_main PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(app_main PUBLIC app_support app_a11y app_dialogs emulvt_view serial transfer_files
                                           Qt6::Widgets)

    add_executable(qorvel-terminal ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
    target_link_libraries(qorvel-terminal PRIVATE app_main)
endif()
