#!/usr/bin/env bash
# FIFOs and devices are stored (devices restored as root only, with a
# message otherwise); sockets are left out with a message; a tree 350
# levels deep (paths over 4,096 bytes) round-trips whole.
# Run as: sidfpack_special_test.sh SIDFPACK LOCPATH
source "$(dirname "$0")/lib.sh"

root=no
(($(id -u) == 0)) && root=yes
mkdir -p src && mkfifo -m 640 src/fifo
LC_ALL=C perl -MSocket -e 'socket(S, PF_UNIX, SOCK_STREAM, 0) && bind(S, pack_sockaddr_un("src/sock")) or die "$!"'
if [[ $root == yes ]]; then mknod -m 600 src/null c 1 3 && mknod src/loop b 7 200; fi
run 0 create -f s.sidf src
has err "src/sock: socket ignored" "socket not reported"
fresh x && run 0 extract -f s.sidf -C x
[[ -p x/src/fifo && $(stat -c %a x/src/fifo) == 640 && ! -e x/src/sock ]] || fail "FIFO not restored"
if [[ $root == yes ]]; then
  [[ -c x/src/null && $(stat -c %t:%T:%a x/src/null) == 1:3:600 ]] || fail "character device"
  [[ -b x/src/loop && $(stat -c %t:%T x/src/loop) == 7:c8 ]] || fail "block device"
  # Without the right to make devices, extract says so and goes on.
  if command -v setpriv >/dev/null; then
    chmod 711 . && fresh y && chmod 777 y
    rc=0 && setpriv --reuid=65534 --regid=65534 --clear-groups "$bin" extract -f - -C y <s.sidf 2>err || rc=$?
    ((rc <= 1)) && grep -q 'src/null' err && [[ -p y/src/fifo ]] || fail "devices as a user (exit $rc)"
  fi
else
  echo "SKIP ($case): devices (needs root)"
fi

# 350 levels of 12-character names, with a file beside each folder so
# every level is taken up again after its deep branch.
name=n12345678901
(cd src && mkdir deep && cd deep && for ((i = 1; i <= 350; i++)); do
  echo "$i" >z && mkdir $name && cd $name
done && echo bottom >file)
run 0 create -f deep.sidf -C src deep
run 0 list -f deep.sidf && lines 702 "deep entries listed"
(($(wc -L <out) > 4096)) || fail "names not longer than 4,096 bytes"
fresh x && run 0 extract -f deep.sidf -C x
# Walk down both trees by relative steps; every level matches.
(cd x/deep && for ((i = 1; i <= 350; i++)); do
  [[ $(cat z) == "$i" ]] || exit 1
  cd $name
done && [[ $(cat file) == bottom ]]) || fail "deep tree not restored whole"
