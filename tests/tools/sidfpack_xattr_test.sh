#!/usr/bin/env bash
# Extended attributes: user attributes, POSIX ACLs (access and default) and
# file capabilities round-trip; each part is skipped where the tools or the
# file system lack it. Run as: sidfpack_xattr_test.sh SIDFPACK LOCPATH
source "$(dirname "$0")/lib.sh"

command -v setfattr >/dev/null && command -v getfattr >/dev/null || skip "setfattr/getfattr missing (package attr)"
mkdir -p src/d && echo data >src/f && ln -s f src/l
setfattr -n user.note -v hello src/f 2>/dev/null || skip "no user attributes on this file system"
setfattr -n user.bin -v 0x00ff0001 src/d
setfattr -n user.empty src/d
head -c 3000 /dev/urandom | od -An -tx1 | tr -d ' \n' | sed 's/^/0x/' >value
setfattr -n user.large -v "$(cat value)" src/d 2>/dev/null || true
acl=no
if command -v setfacl >/dev/null && setfacl -m u:nobody:r src/f 2>/dev/null; then
  setfacl -d -m u:nobody:rx src/d && echo in >src/d/inherits && acl=yes
fi
cap=no
if (($(id -u) == 0)) && command -v setcap >/dev/null && setcap cap_net_raw+ep src/f 2>/dev/null; then cap=yes; fi
if (($(id -u) == 0)); then setfattr -h -n trusted.t -v root-only src/l; fi

# Every attribute of every name below DIR, in hex, as DIR-relative text.
attrs() {
  (cd "$1" && find . | LC_ALL=C sort | while read -r n; do
    echo "$n" && getfattr -h -d -m - -e hex "$n" 2>/dev/null | sed 1d | LC_ALL=C sort
  done)
}
run 0 create -f s.sidf src
fresh x && run 0 extract -f s.sidf -C x
same_tree src x/src
attrs src >want && attrs x/src >got
diff want got >&2 || fail "attributes differ"
grep -q user.note got || fail "no attribute restored"
if [[ $acl == yes ]]; then
  grep -q posix_acl_default got && grep -q posix_acl_access got || fail "ACLs lost"
else
  echo "SKIP ($case): ACLs (no setfacl or no ACL support)"
fi
[[ $cap == no ]] || [[ $(getcap x/src/f) == *cap_net_raw* ]] || fail "file capability lost"
[[ $cap == yes ]] || echo "SKIP ($case): capabilities (not root or no setcap)"

