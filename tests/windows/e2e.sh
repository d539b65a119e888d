#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shipped Windows program, unpacked from its zip, under Wine and Xvfb against zandrel-sim
# (the Linux build's) on a pseudo-terminal that Wine maps to COM3. Every other COM number up to
# 16 maps to nothing, which moves the machine's own serial ports out of the scan. (A port held
# by another program cannot be shown here: Wine 8 lets a second program open a COM port that
# one holds.) The program is checkkorvelt-operated.exe, the test build of the same libraries
# with its test operator, put beside the unpacked zip's DLLs and plugins so that the zip's
# deployment is what it runs on; the operator saves the live view and the downloaded history
# through the save command, and those files must be the bytes the Linux build's export_sample
# writes for the same reading and history. The shipped programs must hold no test code.
#   e2e.sh ZIP OPERATED_EXE LINUX_BUILD WORK      (WINEPREFIX set)
set -euo pipefail
zip=$1
operated=$2
linux=$3
work=$4
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
readonly history_seed=7 groups=200

sim=$linux/sim/zandrel-sim
sample=$linux/tests/export_sample
if [ ! -x "$sim" ] || [ ! -x "$sample" ]; then
    echo "no Linux build with zandrel-sim and export_sample at $linux (build build/release first)"
    [ "${CK_REQUIRE_LINUX_BUILD:-0}" = 1 ] && exit 1
    exit 77
fi
[ -f "$zip" ] || { echo "no $zip: build the target windows-zip first" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
pids=()
cleanup() {
    exec 6<&- 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/report/report.txt" ] && sed 's/^/  report: /' "$work/report/report.txt" >&2
    exit 1
}

echo "== the program, unpacked from $(basename "$zip")"
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
shipped=$(find "$work/unpacked" -name checkkorvelt.exe)
[ -n "$shipped" ] || fail "no checkkorvelt.exe in the zip"
[ -z "$(find "$work/unpacked" -iname '*operated*')" ] || fail "the zip holds the test program"
bash "$(dirname "$0")/../no_test_code.sh" "$shipped" "$(dirname "$shipped")/checkkorvelt-demo.exe" \
    "$operated" || fail "test code in the shipped programs"
exe=$(dirname "$shipped")/checkkorvelt-operated.exe
cp "$operated" "$exe"

echo "== the instrument on a terminal"
source "$(dirname "$0")/com3.sh"
instrument_on_com3 "$sim" "$work" --groups "$groups" --history-seed "$history_seed" \
    --live default || fail "no instrument on COM3"

[ ! -e "$WINEPREFIX/drive_c/Trandel" ] || fail "c:\\Trandel exists before the run"

echo "== checkkorvelt-operated.exe beside the zip's DLLs, on Xvfb"
start=$(date +%s%N)
status=0
timeout 180 xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$exe" "Z:${work//\//\\}\\report" >"$work/program.log" 2>&1 || status=$?
echo "the program ran $(( ($(date +%s%N) - start) / 1000000 )) ms and ended with $status"
[ -f "$work/report/report.txt" ] || fail "no report ($(tail -5 "$work/program.log"))"
[ "$status" -eq 0 ] || fail "the operator did not finish"
sed 's/^/  /' "$work/report/report.txt"

echo "== what the window showed"
report=$work/report/report.txt
has() { grep -qxF -- "$1" "$report" || fail "the report lacks \"$1\""; }
# Discovery in order: nothing on COM1 and COM2, the instrument on COM3.
order=$(grep '^com COM' "$report" | head -3 | tr '\n' ' ')
[ "$order" = "com COM1无效 com COM2无效 com COM3已打开 " ] || fail "discovery showed: $order"
has "link 通讯成功"
has "portno 3"
has "histcount $groups"
# The download against the line's own time (6810 ms for 200 groups at 9600 baud with the
# simulator's 10 ms turnaround), as the Wine row of bench/results.md reports it.
sed -n 's/^download ms //p' "$report" | awk '{printf "download of 200 groups: %d ms, %.3fx the line\n", $1, $1 / 6810}'
has "done"
# The window's own faces first where Windows has them, the free font where it has not.
has "font status SimSun"
has "font grid SimSun"
has "font head SimHei"
has "font value Liberation Sans"
# Qt's own dialogs in Chinese, from the catalogue shipped beside the program.
has "qt text Cancel 取消"
# The window's picture, left on the clipboard by the picture save.
window=$(sed -n 's/^window //p' "$report")
clipboard=$(sed -n 's/^clipboard //p' "$report")
[ -n "$window" ] && [ "$window" != 0x0 ] || fail "no window size"
[ "$clipboard" = "$window" ] || fail "clipboard holds $clipboard, the window is $window"

echo "== the saved files in c:\\Trandel, against the Linux build's for the same reading"
"$sample" "$work/expected" >/dev/null
data=$WINEPREFIX/drive_c/Trandel
for f in live.txt history.txt history.xls; do
    cmp "$work/expected/$f" "$data/$f" || fail "$f differs from the Linux build's"
    echo "$f: the Linux build's $(stat -c %s "$data/$f") bytes"
done
[ "$(head -c 3 "$data/live.jpg" | od -An -tx1 | tr -d ' ')" = ffd8ff ] || fail "live.jpg is no JPEG"
echo "live.jpg: a JPEG of $(stat -c %s "$data/live.jpg") bytes"
echo "== the demo from the same folder: its window picture once a reading shows"
demo=$(dirname "$shipped")/checkkorvelt-demo.exe
timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$demo" --screenshot "Z:${work//\//\\}\\demo.png" >"$work/demo.log" 2>&1 ||
    fail "the demo ended with $? ($(tail -3 "$work/demo.log"))"
[ "$(head -c 4 "$work/demo.png" | od -An -tx1 | tr -d ' ')" = 89504e47 ] || fail "no demo.png"
echo "demo.png: $(stat -c %s "$work/demo.png") bytes"
echo "PASS"
