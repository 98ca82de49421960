# Serial component figures: receive and send throughput on a pseudo-terminal, idle CPU.
add_executable(serial_bench ${CMAKE_CURRENT_LIST_DIR}/serial_throughput.cpp)
target_link_libraries(serial_bench PRIVATE serial benchmark::benchmark util)
