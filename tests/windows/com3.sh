#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sourced by the Wine runs: zandrel-sim on a pseudo-terminal that Wine maps to COM3.
#   instrument_on_com3 SIM WORK [SIM OPTIONS...]   sets $com3, adds the simulator to $pids
# The registry is what Wine's port mapping reads when it starts; a made-up dosdevices link
# would be replaced by the machine's own ttyS ports. Every other COM number up to 16 maps to
# nothing, which moves the machine's own ports out of the scan. The window's own faces are
# given to Wine as stand-ins for SimSun and SimHei, so the window shows whether it asks for
# them first; Arial is left missing, so it shows the free font taking its place.

instrument_on_com3() {
    local sim=$1 work=$2
    shift 2
    mkfifo "$work/sim3"
    exec 6<>"$work/sim3"
    "$sim" --print-path "$@" >"$work/sim3" 2>"$work/sim3.err" &
    pids+=($!)
    # The pipe is opened for reading and writing, so opening it cannot block on a simulator
    # that never started, and it stays open, so one that writes more is not cut off.
    read -r -t 10 -u 6 com3 || { echo "zandrel-sim did not start: $(cat "$work/sim3.err")" >&2; return 1; }
    echo "COM3 = $com3"
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
}
