#!/usr/bin/env bash
# convert between streams and tar: a tree with a hard link, a symbolic link,
# holes, a FIFO, odd modes, nanosecond times, attributes and ACLs goes
# stream -> pax -> stream and compares equal with diff; a pax archive GNU tar
# made goes -> stream -> pax and extracts with tar to the same tree.
# Run as: sidfpack_convert_test.sh SIDFPACK LOCPATH
source "$(dirname "$0")/lib.sh"

mkdir -p src/d && printf 'data\n' >src/f && ln src/f src/hl && ln -s f src/sl && mkfifo src/fifo
truncate -s 8M src/sp && printf 'middle' | dd of=src/sp bs=4096 seek=700 conv=notrunc status=none
chmod 4751 src/f && chmod 1753 src/d && touch -h -d '2021-05-06 07:08:09.123456789' src/f src/sl src/d
xattr=no
if command -v setfattr >/dev/null && setfattr -n user.note -v 'a b' src/f 2>/dev/null; then
  setfattr -n user.bin -v 0x00ff01 src/d && xattr=yes
  command -v setfacl >/dev/null && setfacl -m u:nobody:rw src/f 2>/dev/null && setfacl -d -m g:nogroup:rx src/d || :
fi
[[ $xattr == yes ]] || echo "SKIP ($case): attributes (no setfattr or no support)"
# Type, mode, links, size, nanosecond time and target of every entry below DIR.
listing() { (cd "$1" && find . ! -name . -printf '%M %n %s %T@ %u:%g %p -> %l\n' | LC_ALL=C sort); }
attrs() { (cd "$1" && getfattr -R -h -d -m - -e hex . 2>/dev/null | grep -v '^#' | LC_ALL=C sort); }

# stream -> pax -> stream, by files and through pipes.
run 0 create -f s.sidf src
run 0 convert s.sidf p.tar
run 0 convert p.tar b.sidf
"$bin" convert - - <s.sidf | "$bin" convert - - >piped.sidf || fail "convert through pipes"
for stream in b.sidf piped.sidf; do
  run 0 diff -f "$stream"
  fresh x && run 0 extract -p -f "$stream" -C x
  diff <(listing src) <(listing x/src) >&2 || fail "$stream: tree differs"
  [[ $xattr == no ]] || diff <(attrs src) <(attrs x/src) >&2 || fail "$stream: attributes differ"
  (($(stat -c %b x/src/sp) < 1024)) || fail "$stream: holes not kept"
done
# Formats and compression by OUT's suffix, back to an equal stream.
for out in c.tar.gz c.tar.zst; do
  run 0 convert s.sidf "$out" && run 0 convert "$out" c.sidf && run 0 diff -f c.sidf
done

# pax from GNU tar -> stream -> pax, both extracted by tar.
taropt=(--format=pax --sparse --xattrs --xattrs-include='*' --acls)
# ACLs only in tar's own form: the stream makes its attributes from them.
tar "${taropt[@]}" --xattrs-exclude='system.posix_acl_*' -cf g.tar src 2>/dev/null || tar --format=pax --sparse -cf g.tar src
run 0 convert g.tar g.sidf
run 0 convert g.sidf g2.tar
fresh y && fresh z
tar "${taropt[@]}" -xpf g.tar -C y 2>/dev/null && tar "${taropt[@]}" -xpf g2.tar -C z 2>/dev/null || fail "tar -x"
diff -r --no-dereference -x fifo y z >&2 && diff <(listing y) <(listing z) >&2 || fail "pax -> stream -> pax differs"
[[ $xattr == no ]] || diff <(attrs y) <(attrs z) >&2 || fail "pax -> stream -> pax: attributes differ"

# Input that is no archive is refused and makes no output; unknown formats are usage errors.
head -c 5000 /dev/urandom >junk
run 2 convert junk j.sidf && [[ ! -e j.sidf ]] || fail "junk made an output"
run 2 convert --format nosuch s.sidf o.x
