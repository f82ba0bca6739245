#!/usr/bin/env bash
# The chaos soak's long run: the real card control against kestra-emu's fault mix, COMMANDS
# commands per transport for each seed, TCP and the pseudo-terminal side by side (both spend
# most of their time waiting on time-outs). docs/reliability.md ("Chaos soak") shows the figures.
#
#   scripts/soak.sh                         100,000 commands per transport, seeds 11 and 12
#   COMMANDS=20000 SEEDS="1 2 3" scripts/soak.sh
#   TIMEOUT_MS=100 scripts/soak.sh          (the time-out of every command; default 50)
#
# Any further arguments go to plenko-soak (see plenko-soak --help). Output: one report per seed
# and transport in ${OUT:-build/soak}/; the script fails when any run fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
out=${OUT:-$build/soak}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target plenko-soak kestra-emu
mkdir -p "$out"
export KESTRA_EMU="$build/emulator/kestra-emu" QT_QPA_PLATFORM=offscreen
pids=()
for seed in ${SEEDS:-11 12}; do
    for transport in tcp pty; do
        "$build/tests/soak/plenko-soak" --transport "$transport" --seed "$seed" \
            --commands "${COMMANDS:-100000}" --timeout-ms "${TIMEOUT_MS:-50}" "$@" \
            >"$out/soak-$seed-$transport.txt" 2>&1 &
        pids+=($!)
    done
done
status=0
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
cat "$out"/soak-*.txt
exit $status
