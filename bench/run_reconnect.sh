#!/usr/bin/env bash
# Reconnect figures: time from udev's add event to the window connected again, and idle CPU while
# the window waits for its lost port. Emulated adapter (umockdev), so the program runs under
# umockdev-wrapper. Usage: bench/run_reconnect.sh [BUILD_DIR [BENCHMARK_OPTIONS...]]
set -euo pipefail
build=${1:-build}
shift || true
QT_QPA_PLATFORM=offscreen exec umockdev-wrapper "$build/bench/reconnect_bench" --benchmark_counters_tabular=true "$@"
