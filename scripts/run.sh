#!/usr/bin/env bash
# Installs what is missing, builds, starts the device simulator on a temporary pseudo-terminal and the
# terminal connected to it: type "help" into the command line and press Send.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target qorvel-terminal qorvel-devsim

work=$(mktemp -d "${TMPDIR:-/tmp}/qorvel-run.XXXXXX")
link="$work/device"
sim=""
xvfb=""
cleanup() {
    for pid in $sim $xvfb; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Without a desktop the program still runs, on a virtual display, and shows itself in a screenshot.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    Xvfb -displayfd 3 -screen 0 1280x900x24 3>"$work/display" >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "run.sh: no display, and Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -n1 "$work/display")"
    shot="$root/build/run-screenshot.png"
    echo "run.sh: no display found; running on the virtual display $DISPLAY." >&2
    echo "run.sh: a screenshot of the connected window is written to $shot in a few seconds; Ctrl-C ends." >&2
    (sleep 6 && import -window root "$shot" 2>/dev/null && echo "run.sh: screenshot saved: $shot" >&2) &
fi

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
