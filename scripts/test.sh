#!/usr/bin/env bash
# Builds everything and runs every test: the normal build (all tests, fuzz corpus replay),
# then an ASan+UBSan build of the non-Qt code (engine, serial driver, tools) with its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQORVEL_SANITIZE=ON \
      -DQORVEL_GUI=OFF -DQORVEL_BENCH=OFF
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"
