# Keyboard of the terminal view: function-key tables, key-down steps and the raw log in plain C++
# (emulvt_keys); the mapping from Qt key events to key data in a Qt target (emulvt_keys_qt).
add_library(emulvt_keys STATIC
    ${CMAKE_CURRENT_LIST_DIR}/fkey_tables.cpp
    ${CMAKE_CURRENT_LIST_DIR}/keyboard.cpp
    ${CMAKE_CURRENT_LIST_DIR}/raw_log.cpp)
target_include_directories(emulvt_keys PUBLIC ${CMAKE_SOURCE_DIR}/src)

if(QORVEL_GUI)
    add_library(emulvt_keys_qt STATIC ${CMAKE_CURRENT_LIST_DIR}/keyboard_qt.cpp)
    target_include_directories(emulvt_keys_qt PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(emulvt_keys_qt PUBLIC emulvt_keys Qt6::Gui)
endif()
