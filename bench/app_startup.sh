#!/usr/bin/env bash
# Start-up figure: time from starting qorvel-terminal to its main window being mapped, under Xvfb, with
# no port present (the start-up connect fails with its error box, as on a machine without COM1).
# Usage: bench/app_startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
program="$build/src/app/qorvel-terminal"
display=:58
Xvfb "$display" -screen 0 1280x900x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
work=$(mktemp -d)
for run in $(seq 1 "$runs"); do
    start=$(date +%s%N)
    (cd "$work" && DISPLAY=$display "$program" >/dev/null 2>&1) &
    app=$!
    until DISPLAY=$display xdotool search --name '^Qorvel Terminal$' >/dev/null 2>&1; do sleep 0.005; done
    end=$(date +%s%N)
    echo "run $run: $(( (end - start) / 1000000 )) ms to the main window shown"
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
done
rm -rf "$work"
