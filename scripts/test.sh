#!/usr/bin/env bash
# Builds the library, its tests, tools, benchmarks and fuzz replays, and
# runs the whole test suite.
#   scripts/test.sh                 normal build in build/
#   scripts/test.sh --sanitize      AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --tsan          ThreadSanitizer build in build-tsan/: only the
#                                   test program, and only the tests that run
#                                   threads or share caches between them
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
args=()
targets=()
tests=()
if [[ "${1:-}" == "--sanitize" ]]; then
  dir=build-asan
  args+=(-DDPXUT_SANITIZE=ON -DDPXUT_BENCH=OFF)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
elif [[ "${1:-}" == "--tsan" ]]; then
  dir=build-tsan
  for var in CMAKE_CXX_FLAGS CMAKE_C_FLAGS CMAKE_EXE_LINKER_FLAGS CMAKE_SHARED_LINKER_FLAGS; do
    args+=("-D$var=-fsanitize=thread")
  done
  args+=(-DDPXUT_BENCH=OFF -DDPXUT_TOOLS=OFF)
  targets=(--target dpxut_tests dpxut_test_locales)
  tests=(-R 'Threads|ZoneCache')
  export TSAN_OPTIONS="halt_on_error=1:suppressions=$PWD/scripts/tsan.supp"
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" "${targets[@]}"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" "${tests[@]}"
