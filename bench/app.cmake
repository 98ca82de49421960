# Figures of the program: receive throughput, idle CPU, log-text memory (app_bench); start-up time
# to the main window shown (app_startup.sh, under Xvfb).
if(TARGET app_main)
    add_executable(app_bench ${CMAKE_CURRENT_LIST_DIR}/app_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/app_bench_main.cpp)
    target_link_libraries(app_bench PRIVATE app_main benchmark::benchmark util)
endif()
# The program under a flood against a plain reader on the same kind of pseudo-terminal, a long
# session's memory and Save Log, and the two latencies (flood_bench).
if(TARGET app_main)
    add_executable(flood_bench ${CMAKE_CURRENT_LIST_DIR}/flood_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/app_bench_main.cpp)
    target_link_libraries(flood_bench PRIVATE app_main benchmark::benchmark Qt6::Test util)
endif()
