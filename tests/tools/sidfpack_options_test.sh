#!/usr/bin/env bash
# The options of create: --exclude, --exclude-from, -T, --one-file-system,
# --numeric-owner, and a file that changes while it is read.
# Run as: sidfpack_options_test.sh SIDFPACK LOCPATH
source "$(dirname "$0")/lib.sh"

mkdir -p src/keep/.git src/skip/sub src/mnt
for f in keep/a.c keep/a.o keep/.git/config skip/sub/x skip/y; do echo "$f" >src/$f; done
# names ARGS...: the names create stores with ARGS, one per line.
names() { run 0 create -f s.sidf "$@" && run 0 list -f s.sidf && awk '{printf "%s ", $NF}' out; }

# A pattern without '/' leaves out any component it matches, with all below it.
[[ $(names --exclude '*.o' --exclude .git src/keep) == "src/keep src/keep/a.c " ]] || fail "--exclude: $(cat out)"
[[ $(names --exclude src/skip src) == "src src/keep src/keep/.git src/keep/.git/config src/keep/a.c src/keep/a.o src/mnt " ]] ||
  fail "--exclude of a folder: $(cat out)"
printf '*.c\n\nsub\n' >ex
[[ $(names --exclude-from ex src/keep/a.c src/keep/a.o src/skip) == "src/keep/a.o src/skip src/skip/y " ]] ||
  fail "--exclude-from: $(cat out)"
printf 'src/skip/y\nsrc/keep/a.c\n' >list
[[ $(names -T list src/mnt) == "src/mnt src/skip/y src/keep/a.c " ]] || fail "-T: $(cat out)"

# --one-file-system: the mount point is stored, not what it holds.
if (($(id -u) == 0)) && mount -t tmpfs none src/mnt 2>/dev/null; then
  echo below >src/mnt/inside
  out=$(names --one-file-system src) || true
  umount src/mnt
  [[ $out == *"src/mnt "* && $out != *inside* ]] || fail "--one-file-system: $out"
else
  echo "SKIP ($case): --one-file-system (no second file system to mount)"
fi

# --numeric-owner: no owner or group names in the stream.
user=$(id -un)
run 0 create -f named.sidf src/keep/a.c && run 0 create -f numeric.sidf --numeric-owner src/keep/a.c
grep -qa "$user" named.sidf && ! grep -qa "$user" numeric.sidf || fail "--numeric-owner stored a name"

# A file that grows while it is read is stored marked; create exits 1. The
# stream goes to a FIFO whose reader leaves it unread for a second, which
# holds create in the middle of the file while the appender runs.
head -c 8M /dev/zero >src/grow && mkfifo g.pipe
timeout 60 bash -c 'while :; do echo x >>src/grow; done' >/dev/null 2>&1 &
appender=$!
(exec 3<g.pipe && sleep 1 && cat <&3 >g.sidf) &
reader=$!
run 1 create -f g.pipe src/grow
wait $reader && kill $appender && wait $appender 2>/dev/null || true
has err "src/grow: file changed as we read it" "change not reported"
run any list -v -f g.sidf
has out "changed" "change not shown by list -v"
fresh x && run any extract -f g.sidf -C x
grep -q 'changed' err || fail "change not reported by extract"

# --progress: a line on standard error once a run takes over a second (the
# stream arrives in two halves a second apart); --no-progress: none.
run 0 create -f p.sidf src/keep src/skip
half=$(($(stat -c %s p.sidf) / 2))
slow() { { head -c $half p.sidf; sleep 1.2; tail -c +$((half + 1)) p.sidf; } | "$bin" list "$@" -f - 2>&1 >/dev/null; }
[[ $(slow --progress) == *"sidfpack: listed "*" entries, "*" MiB/s"* ]] || fail "no progress line"
[[ -z $(slow --no-progress) ]] || fail "progress shown with --no-progress"
