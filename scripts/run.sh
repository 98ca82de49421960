#!/usr/bin/env bash
# Installs what is missing, builds, and shows the terminal engine at work on the bundled capture.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target qorvel-vtdump
./build/tools/vtdump/qorvel-vtdump --rows 25 --cols 80 samples/demo.vt
