#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh --test
build=${BUILD_DIR:-build}
# Warnings are errors here (BRINDLE_WERROR), so that none slips in; a plain local build only shows them.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && ctest --output-on-failure -j2 "$@")

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer (the "asan" preset,
# build folder build-asan). SKIP_ASAN=1 leaves it out for a quick local run.
if [ "${SKIP_ASAN:-0}" != 1 ]; then
    cmake --preset asan >/dev/null
    cmake --build --preset asan -j"$(nproc)"
    ctest --preset asan "$@"
fi

# The fuzz targets, about 20 seconds each (docs/reliability.md tells how to run them longer).
[ "${SKIP_FUZZ:-0}" = 1 ] || ./scripts/fuzz.sh
