#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The files the Windows build's save commands write, and its code page 936 table, must be the
# Linux build's bytes: export_sample of each build, compared.
#   same_files.sh LINUX_EXPORT_SAMPLE WINDOWS_EXPORT_SAMPLE_EXE WORK
set -euo pipefail
linux=$1
windows=$2
work=$3
if [ ! -x "$linux" ]; then
    echo "no Linux build of export_sample at $linux (build build/release first)"
    [ "${CK_REQUIRE_LINUX_BUILD:-0}" = 1 ] && exit 1
    exit 77
fi
rm -rf "$work"
mkdir -p "$work/linux" "$work/windows"
"$linux" "$work/linux"
wine "$windows" "Z:${work//\//\\}\\windows"
status=0
for f in cp936.txt live.txt history.txt history.xls; do
    if cmp "$work/linux/$f" "$work/windows/$f"; then
        echo "$f: the same $(stat -c %s "$work/linux/$f") bytes"
    else
        status=1
        [ "$f" = cp936.txt ] && diff "$work/linux/$f" "$work/windows/$f" | head -20
    fi
done
exit $status
