#!/usr/bin/env bash
# Builds and runs the benchmarks with optimisation.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target export_bench
build/release/bench/export_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
