#!/usr/bin/env bash
# Builds everything, then round-trips a folder through a SIDF stream with
# sidfpack: create, list, diff, extract into a temporary folder, and a byte for
# byte comparison with the original (diff -r, symbolic link targets, modes
# and modification times).
#   scripts/demo.sh          the repository's own src/ folder
#   scripts/demo.sh DIR      any folder
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
src=${1:-$repo/src}
if [[ ! -d $src ]]; then
  echo "demo.sh: $src: not a folder" >&2
  exit 2
fi
src=$(cd "$src" && pwd)
if [[ $src == / ]]; then
  echo "demo.sh: give a folder below /" >&2
  exit 2
fi
parent=$(dirname "$src")
base=$(basename "$src")

work=$(mktemp -d "${TMPDIR:-/tmp}/sidfpack-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The build takes minutes from scratch: its steps are shown as they go, one
# line each time another twentieth of them is done (every step when the
# output is a terminal, on one line that is rewritten), and the full log is
# shown only when something fails.
build_failed() {
  tail -n 40 "$work/build.log" >&2
  echo "demo.sh: the build failed" >&2
  exit 1
}
echo "== configure: cmake -S . -B build -G Ninja"
cmake -S "$repo" -B "$repo/build" -G Ninja >"$work/build.log" 2>&1 || build_failed
echo "== build: cmake --build build"
tty=0
[[ -t 1 ]] && tty=1
started=$SECONDS
if ! cmake --build "$repo/build" 2>&1 | tee -a "$work/build.log" | awk -v tty="$tty" '
  BEGIN { last = -1 }
  # Ninja announces each step as "[done/total] what".
  match($0, /^\[[0-9]+\/[0-9]+\] /) {
    split(substr($0, 2, RLENGTH - 3), n, "/")
    what = substr($0, RLENGTH + 1)
    pct = n[2] ? int(100 * n[1] / n[2]) : 100
    line = sprintf("   [%d/%d] %3d%% %s", n[1], n[2], pct, what)
    if (tty) {
      printf "\r\033[K%s", substr(line, 1, 100)
      shown = 1
    } else if (int(pct / 5) != last || n[1] == n[2]) {
      print line
      last = int(pct / 5)
    }
    fflush()
    next
  }
  /^ninja: no work to do/ { print "   up to date"; fflush() }
  END { if (shown) printf "\n" }
'; then
  build_failed
fi
echo "   built in $((SECONDS - started)) s"
sidfpack=$repo/build/sidfpack
stream=$work/demo.sidf

echo "== sidfpack create -f $stream -C $parent $base"
"$sidfpack" create -f "$stream" -C "$parent" "$base"
echo "   $(find "$src" | wc -l) entries, $(du -sb "$src" | cut -f1) bytes in the folder;" \
  "$(stat -c %s "$stream") bytes in the stream"

echo "== sidfpack list -f $stream"
"$sidfpack" list -f "$stream" >"$work/list"
head -n 8 "$work/list" | sed 's/^/   /'
echo "   ... $(wc -l <"$work/list") lines"

echo "== sidfpack diff -f $stream -C $parent   (the stream against the folder it came from)"
"$sidfpack" diff -f "$stream" -C "$parent"
echo "   no differences"

echo "== sidfpack extract -f $stream -C $work/out"
mkdir "$work/out"
"$sidfpack" extract -f "$stream" -C "$work/out"

echo "== compare: diff -r, then type, mode, size, modification time and link target of every entry"
diff -r --no-dereference "$src" "$work/out/$base"
describe() { (cd "$1" && find . -printf '%M %s %T@ %p -> %l\n' | LC_ALL=C sort); }
if ! diff <(describe "$src") <(describe "$work/out/$base") >"$work/meta.diff"; then
  head -n 20 "$work/meta.diff" >&2
  echo "demo.sh: restored entries differ from the original" >&2
  exit 1
fi
echo "   identical: $(wc -l <"$work/list") entries restored byte for byte, with their modes, times and link targets"
