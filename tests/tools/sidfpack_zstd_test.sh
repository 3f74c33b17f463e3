#!/usr/bin/env bash
# Compressed streams: create --zstd writes zstd frames of the stream, which
# `zstd -d` turns back into it; list, extract and diff read them from a file
# and from a pipe; a cut or damaged compressed stream is refused, no hang.
# Run as: sidfpack_zstd_test.sh SIDFPACK LOCPATH
source "$(dirname "$0")/lib.sh"
command -v zstd >/dev/null || skip "no zstd command"

mkdir -p src/d && echo hello >src/a && ln -s a src/l && seq 200000 >src/d/n && head -c 200000 /dev/urandom >src/d/r
run 0 create --zstd -f c.sidf src
[[ $(head -c 4 c.sidf | od -An -tx1 | tr -d ' ') == 28b52ffd ]] || fail "no zstd frame"
run 0 create -f p.sidf src
(($(stat -c %s c.sidf) < $(stat -c %s p.sidf) / 2)) || fail "not compressed"
extract_same c.sidf . src
run 0 diff -f c.sidf
# zstd -d gives back the stream itself: it lists the same, through a pipe.
run 0 list -v -f c.sidf && mv out packed.list
zstd -dq <c.sidf >u.sidf || fail "zstd -d refused the stream"
run 0 list -v -f - <u.sidf && diff packed.list out >&2 || fail "zstd -d stream lists differently"
# A round trip through pipes, at another level and with workers.
fresh y
timeout 120 "$bin" create --zstd=9 --threads 2 -f - src 2>err | timeout 120 "$bin" extract -p -f - -C y ||
  fail "pipe round trip: $(cat err)"
same_tree src y/src

# Cut inside the last block, and a byte damaged inside a block: the stream
# is lost from there (exit 2), with a message that says why.
size=$(stat -c %s c.sidf)
head -c $((size - 50)) c.sidf >cut.sidf
run 2 list -f - <cut.sidf
has err "compressed stream is cut short" "cut not reported"
cp c.sidf bad.sidf && printf '\x55' | dd of=bad.sidf bs=1 seek=$((size - 2)) conv=notrunc status=none
run 2 extract -f bad.sidf -C y
has err "compressed stream is damaged" "damage not reported"

run 2 create --zstd=20 -f z.sidf src
run 2 create --threads x -f z.sidf src
