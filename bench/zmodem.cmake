# ZMODEM's start recogniser per received batch, and a file through both sides in memory.
add_executable(zmodem_bench ${CMAKE_CURRENT_LIST_DIR}/zmodem_bench.cpp)
target_link_libraries(zmodem_bench PRIVATE transfer benchmark::benchmark)
