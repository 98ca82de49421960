# The transfer engines as scripted exchanges, and qorvel-xfer against lrzsz on pseudo-terminals.
add_library(transfer_peer_util STATIC ${CMAKE_CURRENT_LIST_DIR}/peer_util.cpp ${CMAKE_CURRENT_LIST_DIR}/peer_util.h)
target_include_directories(transfer_peer_util PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(transfer_peer_util PUBLIC util Threads::Threads)
target_compile_definitions(transfer_peer_util PRIVATE QORVEL_XFER_PATH="$<TARGET_FILE:qorvel-xfer>")

add_executable(transfer_unit_test ${CMAKE_CURRENT_LIST_DIR}/xymodem_test.cpp)
target_link_libraries(transfer_unit_test PRIVATE transfer_files transfer_peer_util GTest::gtest_main)
gtest_discover_tests(transfer_unit_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)

add_executable(transfer_peer_test ${CMAKE_CURRENT_LIST_DIR}/lrzsz_test.cpp)
target_link_libraries(transfer_peer_test PRIVATE transfer_peer_util GTest::gtest_main)
add_dependencies(transfer_peer_test qorvel-xfer)
gtest_discover_tests(transfer_peer_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)
