#!/usr/bin/env bash
# Files with holes: stored as their data regions (a 1 GiB file holding
# 8 KiB of data makes a stream under 64 KiB) and restored with the holes.
# Run as: sidfpack_sparse_test.sh SIDFPACK LOCPATH
source "$(dirname "$0")/lib.sh"

# blocks FILE: the bytes its blocks take on disk.
blocks() { echo $(($(stat -c %b "$1") * 512)); }
# put FILE BLOCK: 4 KiB of random data at 4 KiB block BLOCK.
put() { head -c 4096 /dev/urandom | dd of="$1" bs=4096 seek="$2" conv=notrunc status=none; }

mkdir src
truncate -s 1G src/big && put src/big 1000 && put src/big 262143
(($(blocks src/big) < 1048576)) || skip "the file system keeps no holes"
# A hole only at the end, only at the start, a file all hole, a dense one.
put src/tail 0 && truncate -s 3M src/tail
truncate -s 2M src/head && put src/head 511
truncate -s 5M src/empty
head -c 100000 /dev/urandom >src/dense
run 0 create -f s.sidf src
(($(stat -c %s s.sidf) < 65536 + 100000)) || fail "holes stored: $(stat -c %s s.sidf) bytes"
run 0 create -f big.sidf src/big
(($(stat -c %s big.sidf) < 65536)) || fail "1 GiB with 8 KiB of data: $(stat -c %s big.sidf) bytes"

fresh x && run 0 extract -f s.sidf -C x
same_tree src x/src
for f in big tail head empty; do
  (($(blocks x/src/$f) <= $(blocks src/$f) + 65536)) || fail "$f: holes not restored ($(blocks x/src/$f) bytes)"
done
# Across records: a part size smaller than the data regions.
run 0 create -f parts.sidf --part-size 3000 src/big src/head
fresh x && run 0 extract -f parts.sidf -C x
cmp -s src/big x/src/big && cmp -s src/head x/src/head || fail "regions split over records"
