# THost over real files, shared by the window, qorvel-xfer and the tests (POSIX, no Qt).
add_library(transfer_files STATIC
    ${CMAKE_CURRENT_LIST_DIR}/file_host.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_host.h)
target_link_libraries(transfer_files PUBLIC transfer)
