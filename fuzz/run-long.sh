#!/bin/sh
# Runs each fuzz target longer than the test command does, from its seed corpus, keeping the
# inputs it learns in <build>/fuzz/<target>/corpus between runs and any crash in
# <build>/fuzz/<target>/artifacts. Prints the time and executions of each target; exits 1 when a
# target found a crash or a broken invariant.
#
#     fuzz/run-long.sh [SECONDS]            each target for SECONDS (default 600)
#     fuzz/run-long.sh --runs N             each target until it has executed N inputs
#                                           (10000000: at 2,000/s about 85 minutes a target)
#
# Build directory: QDI_FUZZ_BUILD_DIR (default build/fuzz); targets: QDI_FUZZ_TARGETS (default
# all of them).
set -eu
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--runs" ]; then
    limit="-runs=${2:?--runs needs a number} -max_total_time=0"
    what="${2} runs"
else
    limit="-max_total_time=${1:-600}"
    what="${1:-600} s"
fi
build=${QDI_FUZZ_BUILD_DIR:-build/fuzz}
targets=${QDI_FUZZ_TARGETS:-usb_replies device_tree inf_head registry_texts driver_versions scenario}

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target qdi_fuzz

# As the test command runs them: leaks are proven by simwin's counters after every input.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:malloc_context_size=0:max_malloc_fill_size=0:quarantine_size_mb=2}
export ASAN_OPTIONS

status=0
for target in $targets; do
    work=$build/fuzz/$target
    mkdir -p "$work/corpus" "$work/artifacts"
    case $target in
    scenario) seeds="scenarios scenarios/refused" ;;
    *) seeds="fuzz/corpus/$target" ;;
    esac
    started=$(date +%s)
    # shellcheck disable=SC2086 # the limit is two options, the seeds several directories
    if "$build/fuzz_$target" $limit -detect_leaks=0 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" \
        "$work/corpus" $seeds >"$work/log.txt" 2>&1; then
        verdict=passed
    else
        verdict="FAILED (see $work/log.txt and $work/artifacts)"
        status=1
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log.txt")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log.txt")
    echo "$target ($what): $(($(date +%s) - started)) s, ${executions:-?} executions" \
        "(${rate:-?}/s), $verdict"
done
exit $status
