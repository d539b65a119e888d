#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows program under Wine, timed: polling's CPU share, Wine's own work included, and a
# 200-group download against the line, both with the unpacked zip (the download by the test
# program put beside its DLLs). Prints the rows for bench/results.md; run by hand on a quiet
# machine, never as a test.
#   bench.sh ZIP OPERATED_EXE LINUX_BUILD WORK [SECONDS] [DOWNLOADS]   (WINEPREFIX set)
set -euo pipefail
zip=$(realpath "$1")
operated=$(realpath "$2")
linux=$(realpath "$3")
work=$(realpath -m "$4")
seconds=${5:-60}
downloads=${6:-3}
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sim=$linux/sim/zandrel-sim
rm -rf "$work"
mkdir -p "$work/unpacked"
pids=()
cleanup() {
    exec 6<&- 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT
(cd "$work/unpacked" && cmake -E tar xf "$zip")
shipped=$(find "$work/unpacked" -name checkkorvelt.exe)
cp "$operated" "$(dirname "$shipped")/"
source "$(dirname "$0")/com3.sh"
instrument_on_com3 "$sim" "$work" --groups 200 --live default >&2

# CPU ticks of every process of this Wine prefix (the program, wineserver, Wine's services)
# and of the display server, from /proc.
ticks() {  # ticks PID... -> the sum of user and system ticks
    local sum=0 p
    for p in "$@"; do
        [ -r "/proc/$p/stat" ] || continue
        sum=$((sum + $(awk '{sub(/.*\) /, ""); print $12 + $13}' "/proc/$p/stat")))
    done
    echo "$sum"
}
prefix_pids() {
    local p
    for p in /proc/[0-9]*; do
        { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
            echo "${p#/proc/}"
    done
}
hz=$(getconf CLK_TCK)

echo "== polling for $seconds s, after 20 s to find the instrument" >&2
xvfb-run -a -s "-screen 0 1280x1024x24" wine "$shipped" >"$work/poll.log" 2>&1 &
pids+=($!)
sleep 20
program=$(pgrep -x 'checkkorvelt.ex' | head -1)  # Wine's process, its name cut at 15
xvfb=$(pgrep -P "${pids[-1]}" Xvfb | head -1)  # started by this run's xvfb-run
mapfile -t wine_pids < <(prefix_pids)
before=$(ticks "${wine_pids[@]}")
before_program=$(ticks "$program")
before_x=$(ticks "$xvfb")
sleep "$seconds"
after=$(ticks "${wine_pids[@]}")
after_program=$(ticks "$program")
after_x=$(ticks "$xvfb")
kill "${pids[-1]}" 2>/dev/null || true
wineserver -k 2>/dev/null || true
awk -v a="$((after - before))" -v p="$((after_program - before_program))" \
    -v x="$((after_x - before_x))" -v s="$seconds" -v hz="$hz" -v n="${#wine_pids[@]}" 'BEGIN {
    printf "polling under Wine for %d s: %.2f %% of a core, Wine included (%d processes of the prefix; the program alone %.2f %%; Xvfb besides %.2f %%)\n",
        s, 100 * a / hz / s, n, 100 * p / hz / s, 100 * x / hz / s }'

for i in $(seq "$downloads"); do
    echo "== download $i" >&2
    rm -rf "$WINEPREFIX/drive_c/Trandel" "$work/report"
    timeout 180 xvfb-run -a -s "-screen 0 1280x1024x24" \
        wine "$(dirname "$shipped")/$(basename "$operated")" "Z:${work//\//\\}\\report" \
        >"$work/download.log" 2>&1 || true
    # 6810 ms: every byte of a 200-group download at 10 bit times and 9600 baud, and the
    # simulator's 10 ms turnaround before each of the 68 replies.
    sed -n 's/^download ms //p' "$work/report/report.txt" | awk '{
        printf "download of 200 groups under Wine: %d ms, line limit 6810 ms, %.3fx the line\n",
            $1, $1 / 6810 }'
done
