# Figures of reconnecting to a lost port (reconnect_bench, run under umockdev-wrapper:
# bench/run_reconnect.sh).
if(TARGET app_main AND NOT QORVEL_SANITIZE AND NOT QORVEL_TSAN)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
    add_executable(reconnect_bench ${CMAKE_CURRENT_LIST_DIR}/reconnect_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/app_bench_main.cpp)
    target_include_directories(reconnect_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/platform)
    target_link_libraries(reconnect_bench PRIVATE app_main PkgConfig::UMOCKDEV benchmark::benchmark)
endif()
