# Terminal emulation engine: screen model, interpreter, translation tables. No Qt.
add_library(emulvt_core STATIC
    ${CMAKE_CURRENT_LIST_DIR}/char_tables.cpp
    ${CMAKE_CURRENT_LIST_DIR}/screen.cpp
    ${CMAKE_CURRENT_LIST_DIR}/interpreter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/utf8_decoder.cpp)
target_include_directories(emulvt_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(emulvt_core PUBLIC platform_sinks)
