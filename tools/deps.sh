#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that building, running and testing need; only what is missing.
#   --linux: only what the Linux build and its tests need (not the Windows cross-build's).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev libgl-dev
    libgtest-dev libbenchmark-dev
    python3-xlrd poppler-utils
    clang libclang-rt-14-dev
    fonts-noto-cjk fonts-liberation2
    dpkg-dev file man-db desktop-file-utils appstream lintian clang-format
    qt6-translations-l10n
    # The screen-reader test: a display server, a private D-Bus session and AT-SPI.
    xvfb dbus-daemon dbus-bin at-spi2-core python3-pyatspi
)
if [ "${1:-}" != --linux ]; then
    # The Windows build: the cross compiler, GoogleTest's sources, the installer, and Wine
    # with a display server to test it on.
    packages+=(g++-mingw-w64-x86-64-posix googletest nsis wine wine64 xauth)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
