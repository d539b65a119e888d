#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and starts Check Korvelt on its simulated instrument.
# Arguments go to the demo (for example --screenshot live.png).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target checkkorvelt checkkorvelt-demo
exec build/release/app/checkkorvelt-demo "$@"
