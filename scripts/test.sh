#!/usr/bin/env bash
# Builds the library, its tests, tools, benchmarks and fuzz replays, and
# runs the whole test suite.
#   scripts/test.sh                 normal build in build/
#   scripts/test.sh --sanitize      AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
args=()
if [[ "${1:-}" == "--sanitize" ]]; then
  dir=build-asan
  args+=(-DDPXUT_SANITIZE=ON -DDPXUT_BENCH=OFF)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
