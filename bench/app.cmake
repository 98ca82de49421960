# Figures of the program: receive throughput, idle CPU, log-text memory (app_bench); start-up time
# to the main window shown (app_startup.sh, under Xvfb).
if(TARGET app_main)
    add_executable(app_bench ${CMAKE_CURRENT_LIST_DIR}/app_bench.cpp)
    target_link_libraries(app_bench PRIVATE app_main benchmark::benchmark util)
endif()
