#!/bin/sh
# Builds the engine benchmark in Release and runs it. Extra arguments go to the benchmark
# (for example --benchmark_filter=WriteStr or --benchmark_repetitions=5).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QORVEL_BENCH_BUILD:-"$root/build-bench"}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQORVEL_BENCH=ON -DQORVEL_GUI=OFF \
    -DQORVEL_TESTS=OFF >/dev/null
cmake --build "$build" --target engine_bench
exec "$build/bench/engine_bench" --benchmark_counters_tabular=true "$@"
