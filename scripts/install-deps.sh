#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test, run and benchmark.
# Idempotent: does nothing (not even apt-get update) when everything is already there.
set -euo pipefail

PACKAGES=(
    build-essential g++ cmake ninja-build pkg-config git
    clang libclang-rt-14-dev clang-format
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev
    libjpeg62-turbo-dev
    xvfb xauth x11-utils xdotool imagemagick
    xfonts-base fonts-dejavu-core
    desktop-file-utils appstream file lintian
    libudev-dev umockdev libumockdev-dev
    ser2net lrzsz
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >&2
