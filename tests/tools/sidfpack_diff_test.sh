#!/usr/bin/env bash
# sidfpack diff, run on the built binary:
#   sidfpack_diff_test.sh SIDFPACK LOCPATH CASE
# A tree compared with its own stream is equal (exit 0); each kind of
# change is reported in GNU tar's words (exit 1); selection and --exclude
# apply; links are never followed out of -C DIR.
source "$(dirname "$0")/lib.sh"

mkdir -p src/t/sub outside
printf 'same size %s\n' {1..2000} >src/t/content
head -c 100000 /dev/urandom >src/t/sub/big
for n in mode mtime size gone owner xattr; do echo "$n" >"src/t/$n"; done
ln -s sub/big src/t/link && ln src/t/content src/t/hard
touch -d '2001-02-03 04:05:06.123456789' src/t/mtime
keep=(src/t/content src/t/size src/t/sparse)  # changed below with their times kept
mkfifo src/t/fifo
truncate -s 1M src/t/sparse && echo data | dd of=src/t/sparse bs=1 seek=500000 conv=notrunc status=none
touch -d '2020-01-01 12:00' "${keep[@]}"
xattrs=0 && setfattr -n user.k -v 1 src/t/xattr 2>/dev/null && xattrs=1
run 0 create -f s.sidf -C src t
run 0 diff -f s.sidf -C src
[[ ! -s out ]] || fail "differences on an equal tree: $(cat out)"
run 0 diff -f s.sidf -C src -v && lines "$(find src/t | wc -l)" "-v names each entry"

# One change of each kind.
printf 'SAME' | dd of=src/t/content bs=1 seek=100 conv=notrunc status=none
chmod 0600 src/t/mode
touch -d '2001-02-03 04:05:06.5' src/t/mtime
echo more >>src/t/size
rm src/t/gone src/t/hard && cp src/t/content src/t/hard
ln -sfn sub src/t/link
rm src/t/fifo && mkdir src/t/fifo
echo x | dd of=src/t/sparse bs=1 seek=9000 conv=notrunc status=none
touch -d '2020-01-01 12:00' "${keep[@]}"
((xattrs == 0)) || setfattr -n user.k -v 2 src/t/xattr
run 1 diff -f s.sidf -C src
for want in "t/content: Contents differ" "t/mode: Mode differs" "t/mtime: Mod time differs" \
  "t/size: Size differs" "t/link: Symlink differs" "t/fifo: File type differs" "t/sparse: Contents differ" \
  "t/hard: Not linked to t/content"; do
  has out "$want" "no '$want'"
done
has err "t/gone: Warning: Cannot stat: No such file or directory" "missing file"
has err "entries differ" "no count"
((xattrs == 0)) || has out "t/xattr: Extended attribute user.k differs" "attributes"
grep -q 'sub/big\|owner' out && fail "equal entries reported"
[[ $(wc -l <out) == $((8 + xattrs)) ]] || fail "$(cat out)"

# Selection and exclusion; a missing pattern fails.
run 0 diff -f s.sidf -C src t/sub t/owner
run 0 diff -f s.sidf -C src --exclude content --exclude mode --exclude mtime --exclude size --exclude gone \
  --exclude link --exclude fifo --exclude sparse --exclude hard --exclude xattr
run 1 diff -f s.sidf -C src t/nothing && has err "t/nothing: not found" "unmatched pattern"

# A folder that is a link to the outside is not followed.
cp -a src/t/sub outside/ && rm -r src/t/sub && ln -s "$work/outside/sub" src/t/sub
run 1 diff -f s.sidf -C src t/sub
has err "t/sub/big: Warning: Cannot stat" "followed a link out of the folder"
echo "ok (diff)"
