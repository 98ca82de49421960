# Figures of the terminal view: full repaint time and streaming throughput.
if(QORVEL_GUI)
    add_executable(view_bench ${CMAKE_CURRENT_LIST_DIR}/view_bench.cpp)
    target_link_libraries(view_bench PRIVATE emulvt_view benchmark::benchmark)
endif()
