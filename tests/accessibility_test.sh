#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a screen reader finds in the real window: the demo runs under Xvfb with Qt's AT-SPI
# bridge on, in a D-Bus session of its own (the accessibility bus is started by D-Bus
# activation, through at-spi2-core's launcher), and atspi_check.py reads it back with pyatspi.
#   accessibility_test.sh DEMO CHECK_SCRIPT
# Exit 77 (skipped) with the reason when the machine lacks a part, unless CK_REQUIRE_ATSPI=1
# (tools/test.sh and CI), which makes a missing part a failure.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
    demo=$1
    check=$2
    missing() {
        if [ "${CK_REQUIRE_ATSPI:-}" = 1 ]; then
            echo "FAIL: $1, and CK_REQUIRE_ATSPI=1" >&2
            exit 1
        fi
        echo "SKIP: $1" >&2
        exit 77
    }
    command -v Xvfb >/dev/null || missing "Xvfb not installed (package xvfb)"
    command -v dbus-run-session >/dev/null || missing "dbus-run-session not installed (dbus-daemon)"
    command -v dbus-send >/dev/null || missing "dbus-send not installed (dbus-bin)"
    [ -f /usr/share/dbus-1/services/org.a11y.Bus.service ] ||
        missing "the accessibility bus launcher is not installed (at-spi2-core)"
    # Debian's own interpreter: pyatspi lives in its dist-packages.
    python=/usr/bin/python3
    [ -x "$python" ] || python=$(command -v python3)
    "$python" -c 'import pyatspi' 2>/dev/null || missing "pyatspi not installed (python3-pyatspi)"
    exec dbus-run-session -- "$0" --inside "$demo" "$check" "$python"
fi

demo=$2
check=$3
python=$4
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses: the server writes the one it took, once it is ready.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
display=
read -r -t 20 display <"$work/display" || true
[ -n "$display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display"

# Asking for the accessibility bus starts it and returns once it is there.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null

# The demo keeps its settings and files in the scratch folder, never the user's.
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 \
    "$demo" --live missing >"$work/demo.log" 2>&1 &
demo_pid=$!
pids+=("$demo_pid")

status=0
"$python" "$check" --pid "$demo_pid" || status=$?
if [ "$status" -ne 0 ]; then
    echo "--- the demo said:" >&2
    cat "$work/demo.log" >&2
fi
exit "$status"
