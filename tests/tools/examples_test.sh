#!/usr/bin/env bash
# The example hosts of the streaming API against sidfpack:
#   examples_test.sh SIDFPACK LIST WRITE
# examples/list.c must print, at every read size, the sizes, times, names
# and link targets sidfpack list prints for a stream of a real tree; a
# stream from examples/write.c must list and extract with sidfpack.
set -euo pipefail
pack=$1 list=$2 write=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export TZ=UTC
fail() { echo "FAIL: $*" >&2 && exit 1; }

tree=/usr/include/linux
[[ -d $tree ]] || tree=/usr/include
"$pack" create -f s.sidf -C "$(dirname "$tree")" "$(basename "$tree")"
"$pack" list -f s.sidf | cut -c12- >want
(($(wc -l <want) > 100)) || fail "too few entries in $tree"
for size in 1 7 512 65536 1048576; do
  "$list" s.sidf $size >got || fail "list.c at read size $size"
  cmp -s want got || { diff want got | head >&2; fail "list.c differs at read size $size"; }
done
"$list" - 4096 <s.sidf | cmp -s want - || fail "list.c on standard input"

mkdir -p in/sub && printf 'first\n' >in/one && head -c 70000 /dev/urandom >in/sub/two && : >in/empty
(cd in && "$write" ../w.sidf one sub/two empty) || fail "write.c"
"$pack" list -f w.sidf >out && [[ $(wc -l <out) == 3 ]] || fail "sidfpack list of write.c's stream: $(cat out)"
mkdir x && "$pack" extract -f w.sidf -C x && diff -r in x || fail "sidfpack extract of write.c's stream"
(cd in && "$write" - one) | "$pack" list -f - | grep -q ' one$' || fail "write.c to standard output"
echo "ok (examples)"
