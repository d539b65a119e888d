#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Linux program with its test operator (checkkorvelt-operated) against zandrel-sim pinned as
# COM3, as the Windows program runs under Wine: the files it saves must be the bytes
# export_sample writes for the same reading and history.
#   operator_run.sh CHECKKORVELT_OPERATED ZANDREL_SIM EXPORT_SAMPLE
set -euo pipefail
program=$1
sim=$2
sample=$3
work=$(mktemp -d)
pids=()
cleanup() {
    exec 6<&- 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/report/report.txt" ] && sed 's/^/  report: /' "$work/report/report.txt" >&2
    exit 1
}

# A configuration home of its own: every COM number the program scans is pinned to a device
# that does not exist, but COM3, which the simulator takes.
export HOME=$work/home XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_CONFIG_HOME/checkkorvelt/ports"
for n in $(seq 1 16); do ln -s "$work/absent-COM$n" "$XDG_CONFIG_HOME/checkkorvelt/ports/COM$n"; done
mkfifo "$work/sim"
exec 6<>"$work/sim"
"$sim" --as COM3 --print-path --groups 200 --history-seed 7 --live default >"$work/sim" \
    2>"$work/sim.err" &
pids+=($!)
read -r -t 10 -u 6 _ || fail "zandrel-sim did not start: $(cat "$work/sim.err")"

status=0
timeout 150 "$program" "$work/report" >"$work/program.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the program ended with $status: $(tail -5 "$work/program.log")"
report=$work/report/report.txt
for line in "com COM1无效" "com COM2无效" "com COM3已打开" "link 通讯成功" "portno 3" \
    "histcount 200" "done"; do
    grep -qxF -- "$line" "$report" || fail "the report lacks \"$line\""
done
"$sample" "$work/expected"
for f in live.txt history.txt history.xls; do
    cmp "$work/expected/$f" "$HOME/Trandel/$f" || fail "$f differs from export_sample's"
done
[ "$(head -c 3 "$HOME/Trandel/live.jpg" | od -An -tx1 | tr -d ' ')" = ffd8ff ] ||
    fail "live.jpg is no JPEG"
echo PASS
