#!/usr/bin/env bash
# Builds the library and its tools and shows the main job: sidfdump prints
# a SIDF stream field by field (without arguments, a sample stream that it
# writes with the library itself).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target sidfdump >/dev/null
exec build/sidfdump "$@"
