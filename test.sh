#!/usr/bin/env bash
# Installs what is missing, checks the layout of the sources, builds, and runs
# every test twice: an optimised build (as users run it) and a Debug build with
# AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source tools/install-deps.sh

jobs=$(nproc)
run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DTORVEX_WARNINGS_AS_ERRORS=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== format check =="
cmake -S . -B build -G Ninja -DTORVEX_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target format-check
echo "== normal build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== sanitizer build =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DENABLE_SANITIZERS=ON

# Fuzzing: every target for a short, bounded time from the seed corpus.
# A longer run: FUZZ_SECONDS=3600 ./test.sh (or run build-fuzz/fuzz/fuzz_<name> by hand).
if command -v clang++ >/dev/null; then
    echo "== fuzzing =="
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVEX_FUZZ=ON \
        -DTORVEX_BUILD_TESTS=OFF >/dev/null
    cmake --build build-fuzz -j "$jobs" --target fuzz_ini fuzz_command fuzz_replace fuzz_database
    for target in ini command replace database; do
        found=$(mktemp -d)
        build-fuzz/fuzz/fuzz_$target -max_total_time="${FUZZ_SECONDS:-20}" -print_final_stats=1 \
            -artifact_prefix="build-fuzz/crash-$target-" "$found" "fuzz/corpus/$target" 2>"build-fuzz/fuzz_$target.log" || {
            tail -40 "build-fuzz/fuzz_$target.log"
            echo "fuzz_$target found a fault; the input is in build-fuzz/crash-$target-*"
            exit 1
        }
        rm -rf "$found"
        echo "fuzz_$target: $(grep -o 'number_of_executed_units: [0-9]*' "build-fuzz/fuzz_$target.log" | cut -d' ' -f2) runs, no findings"
    done
fi
