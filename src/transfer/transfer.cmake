# The file-transfer protocols: state machines without I/O, and no Qt.
add_library(transfer STATIC
    ${CMAKE_CURRENT_LIST_DIR}/crc.cpp
    ${CMAKE_CURRENT_LIST_DIR}/crc.h
    ${CMAKE_CURRENT_LIST_DIR}/transfer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transfer.h
    ${CMAKE_CURRENT_LIST_DIR}/xymodem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/xymodem.h
    ${CMAKE_CURRENT_LIST_DIR}/zmodem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zmodem.h
    ${CMAKE_CURRENT_LIST_DIR}/zmodem_frames.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zmodem_frames.h
    ${CMAKE_CURRENT_LIST_DIR}/zmodem_receive.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zmodem_send.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zmodem_side.h)
target_include_directories(transfer PUBLIC ${CMAKE_SOURCE_DIR}/src)
