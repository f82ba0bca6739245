#!/usr/bin/env bash
# Builds the benchmark suite in build-bench (RelWithDebInfo), runs every benchmark against
# kestra-emu, prints the table and writes docs/performance.md.
#
#   bench/run.sh              the full run (a few minutes)
#   bench/run.sh --quick      small counts: checks that the suite itself works
#   bench/run.sh --only 1,5   some items only (1 round trip, 2 CPU while waiting, 3 serial line,
#                             4 reconnection, 5 start-up and memory, 6 soak, 7 kestra-send,
#                             8 kestra-journal summary of a long journal)
#   bench/run.sh --out FILE   write the report elsewhere
#
# Ratios are measured in one run; absolute figures depend on the machine and its load, so run it
# on a quiet machine (the report records the load average before and after).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/deps.sh
if ! command -v python3 >/dev/null; then
    echo "The Python client needs python3:  sudo apt-get install -y python3" >&2
    exit 1
fi

build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target bench-all

# Qt wants a private runtime folder; give it one rather than a warning per process.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
    trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
"$build/bench/bench-all" "$@"
