#!/usr/bin/env bash
# The engine, tandrel-join, the encoder libraries and their tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer (no window), and every one of those tests run (CI runs it).
# Needs what scripts/setup.sh --tests installs.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== sanitizer build (TANDREL_SANITIZE=ON, TANDREL_GUI=OFF) into build-asan/"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDREL_GUI=OFF \
    -DTANDREL_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
echo "== the engine's tests under the sanitizers"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
ctest --test-dir build-asan -j"$(nproc)" --output-on-failure
