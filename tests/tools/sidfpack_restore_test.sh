#!/usr/bin/env bash
# What extract does beyond putting bytes back: owners and set-id bits by
# --same-owner/--same-permissions, signals and stream errors mid-run (no
# temporary file left, folder modes set), the changed mark, damage that
# costs one record. sidfpack_restore_test.sh SIDFPACK LOCPATH CASE
source "$(dirname "$0")/lib.sh"
is() { [[ $(stat -c "$2" "$1") == "$3" ]] || fail "$1: wanted $3, got $(stat -c "$2" "$1") ($4)"; }
# A folder d (0751) holding a 20 MB file, then a small one.
big_stream() {
  mkdir -p src/d && head -c 20000000 /dev/urandom >src/d/big && echo z >src/d/z && chmod 751 src/d
  run 0 create -f s -C src d && fresh x
}
# Nothing but what the cut stream held whole, and d's mode applied.
left_clean() { [[ $(ls -A x/d) == "" ]] || fail "left in d: $(ls -A x/d)" && is x/d %a 751 "$1"; }

case $case in
owners)
  mkdir src && echo a >src/theirs && echo b >src/mine && chmod 6750 src/mine
  if ((EUID != 0)); then
    run 0 create -f s -C src . && fresh x && run 0 extract -f s -C x && is x/mine %a 750 "a user's default" && exit 0
  fi
  chown 65534:65534 src/theirs && chmod 4755 src/theirs && xattrs=no
  command -v setfattr >/dev/null && setfattr -n trusted.t -v 1 src/theirs src/mine 2>/dev/null && xattrs=yes
  run 0 create -f s -C src .
  # options | theirs: mode uid | mine: mode uid (umask 027)
  while IFS='|' read -r opts theirs mine; do
    fresh x && (umask 027 && run 0 extract -f s -C x $opts)
    is x/theirs '%a %u' "$theirs" "$opts" && is x/mine '%a %u' "$mine" "$opts"
  done <<'ROWS'
|4755 65534|6750 0
--no-same-owner|755 0|6750 0
--no-same-permissions|750 65534|750 0
--no-same-owner --no-same-permissions|750 0|750 0
ROWS
  # A user other than root gets what it owns, the umask applied, no set-id bits.
  chmod 755 . && fresh y && chown 65534 y
  (umask 022 && setpriv --reuid=65534 --regid=65534 --clear-groups "$bin" extract -f s -C y 2>err) || fail "as nobody"
  [[ $xattrs == no || $(grep -c trusted.t err) == 1 ]] || fail "trusted.* refused: wanted one message, got: $(cat err)"
  is y/theirs '%a %u' "755 65534" "as nobody" && is y/mine '%a %u' "750 65534" "as nobody" ;;
signal) # SIGTERM while the big file's content comes through a pipe
  big_stream && mkfifo p
  "$bin" extract -f p -C x 2>err & pid=$!
  exec 3>p && head -c 6000000 s >&3 && sleep 0.3 && kill -TERM $pid && exec 3>&-
  rc=0 && wait $pid || rc=$?
  ((rc == 143)) || fail "exit $rc: $(cat err)" && has err "signal" "no message" && left_clean "after SIGTERM" ;;
stopped) # the stream ends inside the big file's content
  big_stream && head -c 6000000 s >cut && run any extract -f cut -C x && left_clean "after a cut stream" ;;
changed) # a sysfs file reads shorter than its size: the writer marks it
  f=/sys/kernel/mm/transparent_hugepage/enabled && [[ -r $f ]] || skip "no $f"
  run any create -f s -C "${f%/*}" "${f##*/}" && fresh x && run 1 extract -f s -C x
  has err "enabled: file changed as it was read" "no message" && [[ -f x/enabled ]] || fail "not restored" ;;
relink) # extracting a link whose name is that file already leaves no temporary name
  mkdir src && echo a >src/a && ln src/a src/b && run 0 create -f s -C src . && fresh x && run 0 extract -f s -C x
  run 0 extract -f s -C x b && [[ $(ls -A x) == $'a\nb' ]] || fail "left: $(ls -A x)" ;;
damage) # one bit flipped in the content of record 3 (f03) of 20 files
  mkdir src && for i in $(seq -w 1 20); do printf "file $i %.0s" {1..200} >src/f$i; done
  run 0 create -f s -C src $(cd src && ls) && cp s bad
  at=$(LC_ALL=C grep -obUaF 'file 03 ' s | head -1 | cut -d: -f1) && [[ -n $at ]] || fail "f03 not found"
  printf a | dd of=bad bs=1 seek=$((at + 3)) conv=notrunc status=none  # "file" to "fila": 0x65 ^ 0x04
  fresh x && run 1 extract -f bad -C x && [[ $(ls x | wc -l) == 19 && ! -e x/f03 ]] || fail "not 19 of 20: $(ls x)"
  has err "record 3" "record not named" && has err "f03" "entry not named"
  fresh x && run any extract -f bad -C x --stop-on-error
  [[ $(ls x) == $'f01\nf02' ]] || fail "stop-on-error: $(ls x)" ;;
esac
