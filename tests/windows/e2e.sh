#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shipped Windows program, unpacked from its zip, under Wine and Xvfb against zandrel-sim
# (the Linux build's) on a pseudo-terminal that Wine maps to COM3. Every other COM number up to
# 16 maps to nothing, which moves the machine's own serial ports out of the scan. (A port held
# by another program cannot be shown here: Wine 8 lets a second program open a COM port that
# one holds.) The program runs with its test operator
# (--test-operator), which saves the live view and the downloaded history through the save
# command; those files must be the bytes the Linux build's export_sample writes for the same
# reading and history.
#   e2e.sh ZIP LINUX_BUILD WORK      (WINEPREFIX set)
set -euo pipefail
zip=$1
linux=$2
work=$3
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

# Each helper announces itself with one line on a pipe, read with a deadline. The pipe is
# opened for reading and writing, so opening it cannot block on a helper that never started,
# and it stays open, so a helper that writes more is not cut off.
started() {  # started NAME FD SECONDS -> sets $line
    if ! read -r -t "$3" -u "$2" line; then fail "$1 did not start"; fi
    line=${line%$'\r'}  # a Windows program's line ends in CR LF
}

echo "== the program, unpacked from $(basename "$zip")"
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
exe=$(find "$work/unpacked" -name checkkorvelt.exe)
[ -n "$exe" ] || fail "no checkkorvelt.exe in the zip"

echo "== the instrument on a terminal"
mkfifo "$work/sim3"
exec 6<>"$work/sim3"
"$sim" --print-path --groups "$groups" --history-seed "$history_seed" --live default \
    >"$work/sim3" 2>"$work/sim3.err" &
pids+=($!)
started zandrel-sim 6 10
com3=$line
echo "COM3 = $com3"

# The registry is what Wine's port mapping reads when it starts; a made-up dosdevices link
# would be replaced by the machine's own ttyS ports. The window's own faces are given to Wine as
# stand-ins for SimSun and SimHei, so the window shows whether it asks for them first; Arial
# is left missing, so it shows the free font taking its place.
{
    echo 'REGEDIT4'
    echo
    echo '[HKEY_LOCAL_MACHINE\Software\Wine\Ports]'
    for n in $(seq 1 16); do
        if [ "$n" = 3 ]; then echo "\"COM$n\"=\"$com3\""; else echo "\"COM$n\"=\"\""; fi
    done
    echo
    echo '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]'
    echo '"SimSun"="Noto Serif CJK SC"'
    echo '"SimHei"="Noto Sans CJK SC"'
} >"$work/ports.reg"
wine regedit /S "Z:${work//\//\\}\\ports.reg"
wineserver -k || true
wineserver -w

[ ! -e "$WINEPREFIX/drive_c/Trandel" ] || fail "c:\\Trandel exists before the run"

echo "== checkkorvelt.exe with its test operator, on Xvfb"
start=$(date +%s%N)
status=0
timeout 180 xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$exe" --test-operator "Z:${work//\//\\}\\report" >"$work/program.log" 2>&1 || status=$?
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
has "done"
# The window's own faces first where Windows has them, the free font where it has not.
has "font status SimSun"
has "font grid SimSun"
has "font head SimHei"
has "font value Liberation Sans"
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
demo=$(dirname "$exe")/checkkorvelt-demo.exe
timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$demo" --screenshot "Z:${work//\//\\}\\demo.png" >"$work/demo.log" 2>&1 ||
    fail "the demo ended with $? ($(tail -3 "$work/demo.log"))"
[ "$(head -c 4 "$work/demo.png" | od -An -tx1 | tr -d ' ')" = 89504e47 ] || fail "no demo.png"
echo "demo.png: $(stat -c %s "$work/demo.png") bytes"
echo "PASS"
