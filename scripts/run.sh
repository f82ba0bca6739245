#!/usr/bin/env bash
# Builds what is missing, starts the device emulator on loopback TCP and on a pseudo-terminal,
# and opens the console against it. Closing the console stops the emulator.
#   scripts/run.sh            console + emulator
#   scripts/run.sh --device   console alone, for a real device
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build=${BUILD_DIR:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target brindle kestra-emu >/dev/null

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: set DISPLAY (or run under Xvfb) to see the window." >&2
fi

if [ "${1:-}" = "--device" ]; then
    exec "$build/source/app/brindle"
fi

state=$(mktemp -d)
port=${KESTRA_PORT:-10001}
"$build/emulator/kestra-emu" --tcp "127.0.0.1:$port" --pty "$state/ttyKestra" \
    --trace-file "$state/trace.log" --surface-png "$state/surface.png" >"$state/emu.out" 2>&1 &
emu=$!
cleanup() { kill "$emu" 2>/dev/null || true; wait "$emu" 2>/dev/null || true; }
trap cleanup EXIT INT TERM

for _ in $(seq 50); do
    grep -q 'ready' "$state/emu.out" 2>/dev/null && break
    kill -0 "$emu" 2>/dev/null || { cat "$state/emu.out" >&2; exit 1; }
    sleep 0.1
done

echo "Kestra emulator: TCP 127.0.0.1:$port and COM1 ($state/ttyKestra)."
echo "In the window choose Com Setting > Port > COM1 (or Com Setting > IP Address, 127.0.0.1, Set), then press the buttons."
echo "Frames sent and received: $state/trace.log; the card's surface after a rewrite: $state/surface.png"
PLENKO_COM1="$state/ttyKestra" PLENKO_TCP_PORT="$port" "$build/source/app/brindle"
