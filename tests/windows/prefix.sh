#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A fresh Wine prefix for the Windows tests, under the build folder: nothing outside it is
# touched. The wine server is kept for a while after the last program, so the tests that
# follow do not each start it again.
#   prefix.sh PREFIX
set -euo pipefail
prefix=$1
case "$prefix" in
    /*) ;;
    *) echo "prefix.sh: the prefix must be an absolute path" >&2; exit 2 ;;
esac
export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
[ -d "$prefix" ] && "$WINESERVER" -k 2>/dev/null || true
rm -rf "$prefix"
start=$(date +%s%N)
wineboot -i >/dev/null 2>&1
"$WINESERVER" -w
# The server and Wine's own background programs (device drivers, services) start here, their
# output going nowhere: started by a test instead, they would hold that test's output open
# until they end, and the test runner waits for it.
"$WINESERVER" -p30 </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
echo "wine prefix created in $(( ($(date +%s%N) - start) / 1000000 )) ms"
test -d "$prefix/drive_c/windows/system32"
