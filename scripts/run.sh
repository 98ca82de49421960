#!/usr/bin/env bash
# Installs what is missing, builds, starts the device simulator on a temporary pseudo-terminal and the
# terminal connected to it: type "help" into the command line and press Send.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target qorvel-terminal qorvel-devsim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display; start it from a desktop session (or under xvfb-run)" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qorvel-run.XXXXXX")
link="$work/device"
sim=""
cleanup() {
    if [ -n "$sim" ]; then
        kill "$sim" 2>/dev/null || true
        wait "$sim" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

./build/tools/devsim/qorvel-devsim --link "$link" &
sim=$!
for _ in $(seq 1 100); do
    [ -e "$link" ] && break
    kill -0 "$sim" 2>/dev/null || { echo "run.sh: the device simulator did not start" >&2; exit 1; }
    sleep 0.1
done

# The program opens help.html from its working folder.
cp src/app/help.html "$work/"
cd "$work"
"$root/build/src/app/qorvel-terminal" --port "$link"
