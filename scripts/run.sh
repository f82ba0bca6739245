#!/usr/bin/env bash
# Builds what is missing, starts the device emulator on loopback TCP and on a pseudo-terminal,
# and opens the console against it. Closing the console stops the emulator.
#   scripts/run.sh                          console + emulator
#   scripts/run.sh --device [OPTIONS...]    console alone, for a real device; the options go to
#                                           brindle (e.g. --com 1=/dev/ttyUSB0 --journal FILE)
# BUILD_DIR names the build folder (default build); KESTRA_PORT the emulator's TCP port (default
# 10001, and a free one when 10001 is taken).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build=${BUILD_DIR:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "Building in $build (the first build takes a few minutes)..."
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"${BUILD_JOBS:-$(nproc)}" --target brindle kestra-emu >/dev/null

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    echo "No display: set DISPLAY (or run under Xvfb) to see the window." >&2
    exit 1
fi

if [ "${1:-}" = "--device" ]; then
    shift
    exec "$build/source/app/brindle" "$@"
fi

state=$(mktemp -d -t brindle-run.XXXXXX)
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    # Qt wants a private runtime folder; without a login session (as root, say) there is none.
    export XDG_RUNTIME_DIR="$state/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
emu=
cleanup() {
    if [ -n "$emu" ]; then
        kill "$emu" 2>/dev/null || true
        wait "$emu" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Starts the emulator on the given TCP port and waits until it is ready; fails when it ends first.
start_emulator() {
    "$build/emulator/kestra-emu" --tcp "127.0.0.1:$1" --pty "$state/ttyKestra" \
        --trace-file "$state/trace.log" --surface-png "$state/surface.png" >"$state/emu.out" 2>&1 &
    emu=$!
    for _ in $(seq 100); do
        grep -q '^kestra-emu: ready' "$state/emu.out" 2>/dev/null && return 0
        kill -0 "$emu" 2>/dev/null || { wait "$emu" 2>/dev/null || true; emu=; return 1; }
        sleep 0.1
    done
    kill "$emu" 2>/dev/null || true
    wait "$emu" 2>/dev/null || true
    emu=
    return 1
}

if ! start_emulator "${KESTRA_PORT:-10001}"; then
    if [ -n "${KESTRA_PORT:-}" ] || ! start_emulator 0; then
        cat "$state/emu.out" >&2
        echo "The emulator did not start." >&2
        exit 1
    fi
fi
port=$(sed -n 's/^kestra-emu: tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$state/emu.out")

echo "Emulated Kestra on COM1 and on 127.0.0.1 port $port (frames: $state/trace.log, card: $state/surface.png)."
echo "In the window choose Com Setting > Port > COM1 (or Com Setting > IP Address, 127.0.0.1, Set), then press the buttons."
status=0
PLENKO_COM1="$state/ttyKestra" PLENKO_TCP_PORT="$port" "$build/source/app/brindle" || status=$?
exit $status
