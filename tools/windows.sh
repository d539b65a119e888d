#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds Check Korvelt for 64-bit Windows into build/windows: the program, its demo and
# the Windows test programs, then the zip of the program folder
# (build/windows/CheckKorvelt-<version>-win64.zip) and the installer
# (build/windows/CheckKorvelt-<version>-setup.exe).
#
# Qt for Windows is ../shared/sdk/qt6-win64 beside this repository, or $CK_QT_WIN64; the
# MinGW toolchain file is the one beside it (mingw-w64.cmake), or $CK_MINGW_TOOLCHAIN. The
# build tools (moc, rcc, uic) are Debian's own Qt, which tools/deps.sh installs. The tests
# compare with a Linux build: build/release, or $CK_LINUX_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh

qt=${CK_QT_WIN64:-../shared/sdk/qt6-win64}
if [ ! -f "$qt/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    echo "tools/windows.sh: no Qt for Windows at $qt (set CK_QT_WIN64 to its folder)" >&2
    exit 1
fi
qt=$(realpath "$qt")
toolchain=$(realpath "${CK_MINGW_TOOLCHAIN:-$qt/../mingw-w64.cmake}")
[ -f "$toolchain" ] || { echo "tools/windows.sh: no toolchain file $toolchain" >&2; exit 1; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build/windows -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_PREFIX_PATH="$qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    ${CK_WERROR:+-DCK_WERROR="$CK_WERROR"} "${launcher[@]}" \
    ${CK_LINUX_BUILD:+-DCK_LINUX_BUILD="$(realpath "$CK_LINUX_BUILD")"} >/dev/null
cmake --build build/windows -j "$(nproc)"
cmake --build build/windows --target windows-package
ls -l build/windows/CheckKorvelt-*-win64.zip build/windows/CheckKorvelt-*-setup.exe
