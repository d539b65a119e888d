#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the plain build, a bounded fuzzing
# run, and the whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
jobs=$(nproc)
# The independent readers of the spreadsheet and the printed PDF are installed: never skip them.
export CK_REQUIRE_XLRD=1 CK_REQUIRE_PDFTOTEXT=1
fuzz_seconds=${CK_FUZZ_SECONDS:-60}

echo "== build and test"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== fuzz the receive path for ${fuzz_seconds} s"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCK_FUZZ=ON >/dev/null
cmake --build build/fuzz -j "$jobs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/fuzz/fuzz/receive_fuzz -max_total_time="$fuzz_seconds" -max_len=600 -print_final_stats=1 \
    "$work" fuzz/corpus/receive 2>&1 | grep -E '^(stat::number_of_executed_units|Done)' || true
test "${PIPESTATUS[0]}" -eq 0

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCK_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -j "$jobs"
