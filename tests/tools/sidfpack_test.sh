#!/usr/bin/env bash
# Integration tests of the sidfpack tool, run on the built binary:
#   sidfpack_test.sh SIDFPACK LOCPATH CASE
# CASE: roundtrip (a varied tree at buffer sizes from 64 bytes to 1 MiB,
# patterns, pipes), blocks (block sizes, files over several records, small
# buffers, special files, set-id bits, standard input), latin1 (names in an
# ISO-8859-1 locale and across locales), damaged (cut and bit-flipped
# streams, damaged records passed over), hostile (names and links aiming
# outside the target), usage.
# Every run of the tool goes through `run`: a crash, a sanitizer report or a
# hang fails the test whatever the case expects.
source "$(dirname "$0")/lib.sh"

# What list prints for DIR/NAME and below: mode, size (0 for folders), date
# (UTC, whole seconds), name, link target; blanks squeezed.
expected_list() {
  (cd "$1" && find "$2" -printf '%M %s %TY-%Tm-%Td %TT %p -> %l\n') |
    sed -E 's/(:[0-9][0-9])\.[0-9]+ /\1 /; s/ -> $//; s/^(d[^ ]*) [0-9]+ /\1 0 /' | tr -s ' ' | LC_ALL=C sort
}
# Nothing lands beside box/out, nor in outside/ through a link.
inside() {
  [[ -z $(find box -mindepth 1 -maxdepth 1 ! -name out; find outside -mindepth 1 2>/dev/null) ]] || fail "wrote outside"
}

# Nested and empty folders, empty and large files, odd names, links of every
# kind, odd modes and dates, and a few hundred small files.
make_tree() {
  local t=$1 n
  mkdir -p "$t"/{a/b/c/d/e/f/g,"empty dir","ro dir/inner"} "$t"/many/d{0..11}
  for n in empty@0 one@1 "exactly 64K@65536" "a/64K and one@65537" a/b/big@3000000; do
    head -c "${n#*@}" /dev/urandom >"$t/${n%@*}"
  done
  printf 'x%.0s' {1..700} >"$t/a/b/c/$(printf 'n%.0s' {1..200})"
  for n in "name with  spaces " "café crème ünïcödé ✓" "looks like [0041] a code" "new"$'\n'"line" \
    "a/b/star*?.txt" "ro dir/inner/read only" exec "$t"/many/d{0..11}/f{0..19}; do echo "$n" >"$t/${n#"$t/"}"; done
  for n in "relative link@café crème ünïcödé ✓" "absolute link@/etc/hostname" "dangling link@no such target" \
    "folder link@a/b"; do ln -s "${n#*@}" "$t/${n%@*}"; done
  chmod 0444 "$t/ro dir/inner/read only" && chmod 0555 "$t/ro dir/inner" && chmod 1777 "$t/empty dir" && chmod 0751 "$t/exec"
  for n in "one@1975-03-04 05:06:07.123456789" "empty@2100-01-02 03:04:05.5" "relative link@2001-02-03 04:05:06.25" \
    "ro dir@1999-12-31 23:59:59" "exactly 64K@2200-06-07 08:09:10"; do touch -h -d "${n#*@}" "$t/${n%@*}"; done
}

case $case in
roundtrip)
  make_tree src/tree
  expected_list src tree | grep -v 'new$' | grep -v '^line' >expected
  run 0 create -f s.sidf -C src tree
  (($(stat -c %s s.sidf) % 512 == 0)) || fail "stream not a whole number of blocks"
  for bs in 64 100 512 4096 65536 1M; do
    run 0 list -f s.sidf --buffer-size $bs
    grep -qF 'tree/new\nline' out || fail "name with a line feed not escaped"
    diff <(grep -vF 'tree/new\nline' out | tr -s ' ' | LC_ALL=C sort) expected >&2 || fail "list at buffer size $bs"
    extract_same s.sidf src tree --buffer-size $bs
  done
  # Patterns select names and everything below them; unmatched ones fail.
  run 0 list -f s.sidf tree/a/b '*.txt' && lines 9 "pattern list"
  fresh x && run 1 extract -f s.sidf -C x tree/many/d7 'tree/nothing*'
  grep -q 'tree/nothing\*: not found' err || fail "unmatched pattern not reported"
  [[ $(find x -type f | wc -l) == 20 ]] || fail "pattern extract"
  run 0 list -f s.sidf --dos-wildcards 'tree/many/d1?/f9' && lines 2 "enhanced matcher"
  # A stream through a pipe, with a block size of 1 (no padding).
  (cd src && "$bin" create -f - --block-size 1 tree/a) | "$bin" list -f - >out && lines 11 "pipe"
  # A full disk ends the run as a fatal error, whenever the writes fail.
  run 2 create -f /dev/full -C src tree && has err "/dev/full: write error" "full disk not reported"
  run 2 create -f /dev/full -C src tree/one && has err "No space left on device" "full disk at the end not reported"
  ;;

blocks)
  mkdir -p src/b/sub
  for i in 1 2 3; do echo "file $i" >src/b/sub/f$i; done
  printf '%05000d' 7 >"src/b/five thousand"
  head -c 1000 /dev/urandom >src/b/exact && : >src/b/zero
  ln -s sub src/b/link
  echo suid >src/b/suid && chmod 6755 src/b/suid
  for block in 1 100 512 4096 65536; do
    bs=$((64 + block % 97))
    run 0 create -f s.sidf -C src --block-size $block --buffer-size $((64 + block % 1000)) --part-size 1000 b
    (($(stat -c %s s.sidf) % block == 0)) || fail "stream not a whole number of $block-byte blocks"
    # Every record header (09 02 A5 5A) starts on a block boundary; the
    # 5000-byte file takes five records.
    mapfile -t at < <(LC_ALL=C grep -obUaP '\x09\x02\xa5\x5a' s.sidf | cut -d: -f1)
    ((${#at[@]} == 14)) || fail "${#at[@]} records"
    for a in "${at[@]}"; do ((a % block == 0)) || fail "record at $a with block size $block"; done
    run 0 list -f s.sidf --buffer-size $bs && lines 10 "entries listed once"
    fresh x && run 0 extract -p -v -f - -C x --buffer-size $bs <s.sidf && lines 10 "-v names"
    same_tree src/b x/b
  done
  # Set-id bits come back only for the superuser, who also restores owners.
  if (($(id -u) == 0)); then [[ $(stat -c %a x/b/suid) == 6755 ]] || fail "set-id bits"; fi
  # Extracting again over the restored tree gives the same tree.
  run 0 extract -p -f s.sidf -C x
  same_tree src/b x/b
  ;;

latin1)
  export LC_ALL=en_US.ISO-8859-1
  d=$'d\xe9' f=$'caf\xe9 au lait'
  mkdir -p "src/t/$d" && printf x >"src/t/$f" && ln -s "$f" "src/t/$d/lien"
  run 0 create -f l.sidf -C src t
  run 0 list -vv -f l.sidf --buffer-size 64
  # The three name forms agree (each shown as locale text).
  [[ $(grep -c "name space 0x[012]00: t/$f\$" out) == 3 ]] || fail "name forms"
  extract_same l.sidf src t --buffer-size 100
  # Read in a UTF-8 locale, names and link targets come out in UTF-8.
  fresh x && LC_ALL=en_US.UTF-8 run 0 extract -f l.sidf -C x
  [[ -f "x/t/café au lait" && $(readlink "x/t/dé/lien") == "café au lait" ]] || fail "names not converted"
  # A name the locale's code set cannot hold is kept in locale form.
  export LC_ALL=en_US.UTF-8
  mkdir bad && printf b >bad/$'\xff\xfe'
  run 0 create -f b.sidf bad && grep -q 'locale form only' err || fail "no note on the unconvertible name"
  extract_same b.sidf . bad
  ;;

damaged)
  mkdir -p src/t/sub box
  head -c 2500 /dev/urandom >src/t/sub/data
  echo small >src/t/small
  ln -s sub/data src/t/link
  run 0 create -f s.sidf -C src --block-size 64 t
  size=$(stat -c %s s.sidf)
  # Damage costs the records it hits (exit 1), a cut or unreadable stream the
  # rest (exit 2).
  damaged() { run any "$@" && ((rc == 1 || rc == 2)) && grep -q '^sidfpack: ' err || fail "exit $rc: $*"; }
  extract_bad() {
    fresh box/out && damaged extract -f bad -C box/out
    inside
    # A damaged file never stands under its own name.
    [[ ! -f box/out/t/sub/data ]] || cmp -s box/out/t/sub/data src/t/sub/data || fail "damaged data restored"
  }
  # Cuts: every 4th offset in the headers and first record, then every 29th.
  for ((off = 0; off < size; off += (off < 400 ? 4 : 29))); do
    head -c $off s.sidf >bad
    run 2 list -f bad --buffer-size $((64 + off % 3 * 36))
    ((off % 6)) || extract_bad
  done
  # Flipped bits, at a stride that meets every kind of field.
  mapfile -t bytes < <(od -An -v -tu1 -w1 s.sidf)
  for ((off = 0; off < size; off += 23)); do
    cp s.sidf bad
    printf "\\$(printf %03o $(((bytes[off] ^ (1 << (off % 8))) & 255)))" |
      dd of=bad bs=1 seek=$off conv=notrunc status=none
    damaged list --verify -f bad --buffer-size $((64 + off % 4 * 1000))
    ((off % 4)) || extract_bad
  done
  head -c 5000 /dev/urandom >noise && run 2 list -f noise
  run 2 list -f /dev/null
  # A damaged record is reported and passed over: the entries after it are
  # still listed and restored, the count told at the end; --stop-on-error
  # stops there (a listing checks content with --verify). Content of f2
  # flipped, then f2's header.
  mkdir three && for n in 1 2 3; do printf "$n%.0s" {1..3000} >three/f$n; done
  run 0 create -f 3.sidf three
  flip() { cp 3.sidf bad && printf X | dd of=bad bs=1 seek="$1" conv=notrunc status=none; }
  flip "$(LC_ALL=C grep -obUa 2222 3.sidf | head -1 | cut -d: -f1)"
  run 1 list --verify -f bad && lines 4 "entries around damaged content" && grep -q 'three/f2' err || fail "damaged content"
  grep -q '1 damaged record passed over' err || fail "no count of damaged records"
  run 0 list -f bad && lines 4 "a plain listing passes content over unread"
  run 2 list --verify -f bad --stop-on-error && lines 3 "stop on error"
  fresh x && run 1 extract -f bad -C x && cmp three/f3 x/three/f3 && [[ ! -e x/three/f2 ]] || fail "extract past damage"
  fresh x && run 2 extract -f bad -C x --stop-on-error && [[ ! -e x/three/f3 ]] || fail "extract stops on error"
  flip "$(LC_ALL=C grep -obUa three/f2 3.sidf | head -1 | cut -d: -f1)"
  run 1 list -f bad && lines 3 "entries around a damaged header" && grep -q 'three/f3' out || fail "damaged header"
  ;;

hostile)
  mkdir -p src/b box/out outside
  echo evil | tee src/f >src/b/evil
  ln -s "$work/outside" src/a
  ln -s ../../outside src/rel
  # Absolute names and names with "..".
  run 0 create -f abs.sidf -C src --rename "f=$work/box/abs" --rename b=../../box/dots f b
  run 1 extract -f abs.sidf -C box/out
  grep -q 'refusing an absolute name' err && grep -q "refusing a name with '..'" err || fail "names not refused"
  # A link, then a file below the link's name, in one stream.
  run 0 create -f link.sidf -C src --no-recursion --rename b=a a b/evil
  run 1 extract -f link.sidf -C box/out && grep -q 'refusing to write through the symbolic link a' err || fail "link parent"
  # A link left by one stream, a file below it from the next.
  run 0 create -f l1.sidf -C src rel
  run 0 create -f l2.sidf -C src --no-recursion --rename b=rel/x b/evil
  run 0 extract -f l1.sidf -C box/out
  run 1 extract -f l2.sidf -C box/out
  # A file whose name is already a link to the outside replaces the link.
  ln -s "$work/outside/victim" box/out/f
  run 0 create -f f.sidf -C src f
  run 0 extract -f f.sidf -C box/out
  [[ -f box/out/f && ! -L box/out/f ]] || fail "link not replaced"
  inside  # after every scenario: nothing reached outside/ nor beside box/out
  ;;

usage)
  for args in list "list -f" "frobnicate -f x" "create -f u.sidf" "list -f x --buffer-size 63" \
    "list -f x --block-size 0" "extract -f x --bogus"; do run 2 $args; done
  run 1 list -f missing.sidf && grep -q 'missing.sidf: No such file' err || fail "missing stream: $(cat err)"
  # A missing path is reported; the stream holds the others.
  mkdir d && run 1 create -f p.sidf d nothing-here
  grep -q 'nothing-here: No such file' err || fail "missing path not reported"
  run 0 list -f p.sidf && lines 1 "stream of the readable paths"
  run 2 extract -f p.sidf -C no-such-dir
  run any --help && grep -q 'sidfpack create' out || fail "--help"
  ;;

*) fail "unknown case" ;;
esac
echo "ok ($case)"
