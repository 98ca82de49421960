#!/usr/bin/env bash
# Start-up figure: time from starting qorvel-terminal to its main window being mapped, under Xvfb, with
# no port present (the start-up connect fails with its error box, as on a machine without COM1).
# Usage: bench/app_startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
program="$(cd "$build" && pwd)/src/app/qorvel-terminal"
# Let Xvfb pick a free display: a fixed number may be held by another server or a stale lock.
fdfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x900x24 3>"$fdfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; rm -f "$fdfile"' EXIT
for _ in $(seq 1 100); do [ -s "$fdfile" ] && break; sleep 0.1; done
[ -s "$fdfile" ] || { echo "app_startup.sh: Xvfb did not start" >&2; exit 1; }
display=":$(head -n1 "$fdfile")"
work=$(mktemp -d)
for run in $(seq 1 "$runs"); do
    start=$(date +%s%N)
    (cd "$work" && DISPLAY=$display exec "$program" >/dev/null 2>"$work/stderr.txt") &
    app=$!
    until DISPLAY=$display xdotool search --name '^Qorvel Terminal$' >/dev/null 2>&1; do
        kill -0 "$app" 2>/dev/null || { echo "app_startup.sh: the program ended before its window showed" >&2; cat "$work/stderr.txt" >&2; exit 1; }
        sleep 0.005
    done
    end=$(date +%s%N)
    echo "run $run: $(( (end - start) / 1000000 )) ms to the main window shown"
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
done
rm -rf "$work"
