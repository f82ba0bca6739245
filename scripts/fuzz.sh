#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder and runs each one for a short
# while, starting from the seed corpus in tests/fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh                     every target, FUZZ_SECONDS (20) each
#   FUZZ_SECONDS=3600 scripts/fuzz.sh fuzz_frame
#   FUZZ_ARGS="-max_len=140000" scripts/fuzz.sh fuzz_frame    more libFuzzer options
#
# The corpus grows in <build>/corpus/<target>/ (the seeds in the repository stay as they are);
# an input that breaks an invariant is written to <build>/artifacts/ and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-20}
jobs=${FUZZ_BUILD_JOBS:-$(nproc)}

CC=clang CXX=clang++ cmake -S . -B "$build" -DBRINDLE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for dir in tests/fuzz/corpus/*/; do
        targets+=("$(basename "$dir")")
    done
fi

mkdir -p "$build/artifacts"
status=0
printf '%-18s %12s %10s %8s %s\n' target executions "execs/s" corpus outcome
for t in "${targets[@]}"; do
    exe="$build/tests/fuzz/$t"
    corpus="$build/corpus/$t"
    log="$build/$t.log"
    mkdir -p "$corpus"
    cp -n tests/fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
    outcome=ok
    # shellcheck disable=SC2086 # FUZZ_ARGS is a list of options
    if ! "$exe" "$corpus" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
            -artifact_prefix="$build/artifacts/$t-" ${FUZZ_ARGS:-} >"$log" 2>&1; then
        outcome="FAILED (see $log)"
        status=1
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    files=$(find "$corpus" -type f | wc -l)
    printf '%-18s %12s %10s %8s %s\n' "$t" "${execs:-?}" "${rate:-?}" "$files" "$outcome"
done
exit $status
