#!/bin/sh
# Runs each fuzz target longer than the test command does: SECONDS each (default 600) from its
# seed corpus, keeping the inputs it learns in <build>/fuzz/<target>/corpus between runs and any
# crash in <build>/fuzz/<target>/artifacts. Prints the time and executions of each target; exits
# 1 when a target found a crash or a broken invariant.
#
#     fuzz/run-long.sh [SECONDS]          (build directory: QDI_FUZZ_BUILD_DIR, default build/fuzz)
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=${QDI_FUZZ_BUILD_DIR:-build/fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQDI_FUZZ=ON \
    >/dev/null
cmake --build "$build" --target qdi_fuzz

status=0
for target in usb_replies device_tree inf_head; do
    work=$build/fuzz/$target
    mkdir -p "$work/corpus" "$work/artifacts"
    if "$build/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" "fuzz/corpus/$target" \
        >"$work/log.txt" 2>&1; then
        verdict=passed
    else
        verdict="FAILED (see $work/log.txt and $work/artifacts)"
        status=1
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log.txt")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log.txt")
    echo "$target: $seconds s, ${executions:-?} executions (${rate:-?}/s), $verdict"
done
exit $status
