#!/usr/bin/env bash
# Builds every fuzz target with clang and libFuzzer, then runs each one for
# a while from its seed corpus, so that the fuzz build cannot rot and every
# run is a short fuzzing session. New inputs go to a scratch folder; the
# checked-in corpora are only read.
#   scripts/fuzz.sh [SECONDS]       default 10 seconds a target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DDPXUT_FUZZ=ON \
  -DDPXUT_TESTS=OFF -DDPXUT_BENCH=OFF -DDPXUT_TOOLS=OFF >/dev/null
cmake --build "$dir"
# Targets that switch locales use the hermetic test locales of the normal
# build; make them there when that build has not run yet.
if [[ ! -d build/locales ]]; then
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build --target dpxut_test_locales >/dev/null
fi
export LOCPATH=$PWD/build/locales
scratch=$(mktemp -d "${TMPDIR:-/tmp}/dpxut-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
status=0
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  bin=$dir/fuzz/${name}_fuzz
  [[ -x $bin ]] || { echo "fuzz.sh: no target for corpus $name" >&2; status=1; continue; }
  mkdir -p "$scratch/$name"
  echo "== $name: ${seconds}s"
  if ! "$bin" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$scratch/$name-" \
       "$scratch/$name" "$corpus" > "$scratch/$name.log" 2>&1; then
    tail -n 40 "$scratch/$name.log" >&2
    cp "$scratch/$name"-* . 2>/dev/null || true
    echo "fuzz.sh: $name failed; the crashing input is in $PWD" >&2
    status=1
  fi
done
exit $status
