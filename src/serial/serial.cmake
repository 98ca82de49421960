# The serial port component TXComm: settings model, transfers, event thread, EDeviceError.
add_library(serial STATIC
    ${CMAKE_CURRENT_LIST_DIR}/device_error.cpp
    ${CMAKE_CURRENT_LIST_DIR}/event_thread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/xcomm.cpp
    ${CMAKE_CURRENT_LIST_DIR}/xcomm_lines.cpp
    ${CMAKE_CURRENT_LIST_DIR}/xcomm_settings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/xcomm_transfers.cpp)
target_include_directories(serial PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(serial PUBLIC commapi mainthread platform_sinks Threads::Threads)
