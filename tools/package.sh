#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the Debian package, checks it with lintian (no errors allowed) and runs it unpacked.
#   bash tools/package.sh             builds in build/package with Debian's flags, no tests
#   bash tools/package.sh BUILD_DIR   packages what BUILD_DIR has built (tools/test.sh does)
# The package lands in the build folder: checkkorvelt_VERSION_ARCH.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${1:-}
if [ -z "$build" ]; then
    build=build/package
    source tools/debian_flags.sh
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF \
        "${debian_flags[@]}" >/dev/null
    cmake --build "$build" -j "$(nproc)"
fi
rm -f "$build"/checkkorvelt_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/checkkorvelt_*.deb)
deb=${debs[0]}

echo "== lintian $deb"
# Warnings are shown and allowed; an error fails. (As root, lintian says so; that is not one.)
status=0
report=$(lintian --fail-on error --display-info "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || { echo "lintian found errors in $deb" >&2; exit 1; }
bash tests/deb_test.sh "$deb"
echo "package: $deb"
