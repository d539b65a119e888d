#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds and runs every test: the build with Debian's flags and the
# Debian package made from it, the Windows build under Wine, a bounded fuzzing run, and the
# whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
#   --quick: the loop while working: the format check, then the build with CI's flags
#            (Debian's, warnings as errors) brought up to date, and the unit suites run; only the Linux packages, no fuzzing, no sanitizer build, no
#            end-to-end runs. CI runs it all.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=false
[ "${1:-}" = --quick ] && quick=true
if $quick; then bash tools/deps.sh --linux; else bash tools/deps.sh; fi
jobs=$(nproc)

# Every C++ file as the project's .clang-format lays it out.
echo "== format"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
# The independent readers of the spreadsheet and the printed PDF, the screen-reader stack and
# Qt's translations are installed: never skip them.
export CK_REQUIRE_XLRD=1 CK_REQUIRE_PDFTOTEXT=1 CK_REQUIRE_ATSPI=1 CK_REQUIRE_QT_TRANSLATIONS=1

source tools/debian_flags.sh
if $quick; then
    # The same directory and flags as CI's first build, so a warning fails here as it would there.
    [ -f build/debian/build.ninja ] ||
        cmake -S . -B build/debian -G Ninja -DCMAKE_BUILD_TYPE=None -DCK_WERROR=ON \
            "${debian_flags[@]}" >/dev/null
    # Everything, benchmarks too, so that nothing CI builds can fail there first.
    cmake --build build/debian -j "$jobs"
    ctest --test-dir build/debian --output-on-failure -j "$jobs" -L unit
    exit
fi
fuzz_seconds=${CK_FUZZ_SECONDS:-60}
fuzz_other_seconds=${CK_FUZZ_OTHER_SECONDS:-20}

echo "== build with Debian's flags and test"
cmake -S . -B build/debian -G Ninja -DCMAKE_BUILD_TYPE=None -DCK_WERROR=ON "${debian_flags[@]}" \
    >/dev/null
cmake --build build/debian -j "$jobs"
ctest --test-dir build/debian --output-on-failure -j "$jobs"

echo "== the Debian package"
bash tools/package.sh build/debian

if command -v wine >/dev/null; then
    echo "== Windows: cross-build, zip and installer, then the tests under Wine"
    CK_WERROR=ON CK_LINUX_BUILD=build/debian bash tools/windows.sh
    # The Linux build above is what the Windows files and the simulator come from.
    CK_REQUIRE_LINUX_BUILD=1 ctest --test-dir build/windows --output-on-failure -j "$jobs"
fi

echo "== fuzz: the receive path for ${fuzz_seconds} s, the other targets for ${fuzz_other_seconds} s each"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCK_FUZZ=ON -DCK_WERROR=ON >/dev/null
cmake --build build/fuzz -j "$jobs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One target from its corpus; what it finds goes to a scratch directory. A crash, a leak,
# undefined behaviour or a failed check fails the run, with the fuzzer's report and the input
# kept under build/fuzz.
fuzz() {
    local target=$1 seconds=$2 max_len=$3
    mkdir -p "$work/$target"
    if ! build/fuzz/fuzz/"${target}_fuzz" -max_total_time="$seconds" -max_len="$max_len" \
        -print_final_stats=1 -artifact_prefix="build/fuzz/${target}-" \
        "$work/$target" "fuzz/corpus/$target" >"$work/$target.log" 2>&1; then
        tail -n 60 "$work/$target.log"
        echo "fuzzing $target failed" >&2
        return 1
    fi
    echo "$target: $(awk '/^stat::number_of_executed_units/ {print $2}' "$work/$target.log") runs"
}
fuzz receive "$fuzz_seconds" 600
fuzz measure "$fuzz_other_seconds" 300
fuzz history "$fuzz_other_seconds" 300
fuzz text "$fuzz_other_seconds" 4096
fuzz xls "$fuzz_other_seconds" 16384  # a full history table is some 10 KB of input

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCK_SANITIZE=ON -DCK_WERROR=ON >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -j "$jobs"
