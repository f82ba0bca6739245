#!/usr/bin/env bash
# The inner loop: builds into build/ as the test command does and runs every test there but the
# Debian package build (acceptance_package) and the soak (label soak). No sanitizer pass, no
# fuzzers: ./scripts/test.sh, CI's command, runs all of it. Arguments go to ctest (-R NAME, -V).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh --test
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && ctest --output-on-failure -j2 -LE '^soak$' -E '^acceptance_package$' "$@")
