#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package as a user gets it: unpacked with dpkg-deb into a scratch folder, its
# programs run from there on the system's Qt (no library path of the build), its dependencies
# naming what the window needs beyond its libraries.
#   deb_test.sh PACKAGE.deb
set -uo pipefail
deb=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

dpkg-deb -x "$deb" "$root/unpacked" || { echo "FAIL: dpkg-deb -x"; exit 1; }
u=$root/unpacked
version=$(dpkg-deb -f "$deb" Version)

# Run-time dependencies: the libraries dpkg-shlibdeps found, and what no library names.
depends=$(dpkg-deb -f "$deb" Depends)
for need in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 \
    libqt6printsupport6 qt6-qpa-plugins qt6-translations-l10n fonts-noto-cjk fonts-liberation2; do
    [[ ", $depends," == *", $need"[\ ,]* ]] || fail "Depends lacks $need: $depends"
done

for p in checkkorvelt checkkorvelt-demo zandrel-sim; do
    bin=$u/usr/bin/$p
    [ -x "$bin" ] || { fail "no usr/bin/$p"; continue; }
    # Nothing points back into a build folder.
    if readelf -d "$bin" | grep -Eq 'R(UN)?PATH'; then fail "$p carries a library path"; fi
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LD_LIBRARY_PATH \
        "$bin" --version 2>&1)
    [ "$out" = "$p $version" ] || fail "unpacked $p --version: $out"
done

# The unpacked demo finds its simulated instrument, shows a reading and saves the window.
shot=$root/live.png
if out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LD_LIBRARY_PATH \
        timeout 60 "$u/usr/bin/checkkorvelt-demo" --screenshot "$shot" 2>&1); then
    info=$(file -b "$shot")
    if [[ "$info" =~ ^PNG\ image\ data,\ ([0-9]+)\ x\ ([0-9]+) ]]; then
        [ "${BASH_REMATCH[1]}" -ge 900 ] && [ "${BASH_REMATCH[2]}" -ge 600 ] ||
            fail "screenshot only ${BASH_REMATCH[1]} x ${BASH_REMATCH[2]}"
    else
        fail "screenshot is not a PNG: $info"
    fi
else
    fail "unpacked demo --screenshot: $out"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "package $version unpacked: programs run, screenshot $(file -b "$shot" | cut -d, -f2)"
