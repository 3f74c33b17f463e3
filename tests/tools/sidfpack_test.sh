#!/usr/bin/env bash
# Integration tests of the sidfpack tool, run on the built binary:
#   sidfpack_test.sh SIDFPACK LOCPATH CASE
# CASE: roundtrip (trees at buffer sizes from 64 bytes to 1 MiB), blocks
# (block sizes, small output buffers, special files, set-id bits, standard
# input), latin1
# (names in an ISO-8859-1 locale, and across locales), parts (files over
# several records), damaged (streams cut and with bytes flipped), hostile
# (names and links that aim outside the target folder), usage.
# Every run of the tool goes through `run`: a crash, a sanitizer report or a
# hang fails the test whatever the case expects.
set -euo pipefail
# The shell itself needs LOCPATH from its start to switch to the test locales.
if [[ ${LOCPATH:-} != "$2" ]]; then LOCPATH=$(cd "$2" && pwd) exec bash "$0" "$(realpath "$1")" "$(cd "$2" && pwd)" "$3"; fi
bin=$1
case=$3
export LC_ALL=en_US.UTF-8 TZ=UTC
# Thousands of small files: on tmpfs when there is one.
scratch=${TMPDIR:-/tmp}
if [[ -z ${TMPDIR:-} && -d /dev/shm && -w /dev/shm ]]; then scratch=/dev/shm; fi
work=$(mktemp -d "$scratch/sidfpack-test.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null || true; rm -rf "$work"' EXIT

fail() {
  echo "FAIL ($case): $*" >&2
  exit 1
}

# run EXPECT ARGS...: EXPECT is 0 (success), 1 (a reported failure: exit 1
# and a message) or any (either). Output in $work/out, messages in $work/err.
run() {
  local expect=$1 rc=0
  shift
  timeout 120 "$bin" "$@" >"$work/out" 2>"$work/err" || rc=$?
  if ((rc == 124)); then fail "hang: sidfpack $*"; fi
  if ((rc >= 126)) || grep -qE 'Sanitizer|runtime error' "$work/err"; then
    cat "$work/err" >&2
    fail "crash (exit $rc): sidfpack $*"
  fi
  case $expect in
    0) ((rc == 0)) || { cat "$work/err" >&2; fail "exit $rc: sidfpack $*"; } ;;
    1) ((rc == 1)) && grep -q '^sidfpack: ' "$work/err" || fail "expected a reported failure, got exit $rc: sidfpack $*" ;;
  esac
  return 0
}

# What list should print for the entries under DIR/NAME: mode, size (0 for
# folders), date (UTC, whole seconds), name, link target; blanks squeezed.
expected_list() {
  (cd "$1" && find "$2" -printf '%M %s %TY-%Tm-%Td %TT %p -> %l\n') |
    sed -E 's/(:[0-9][0-9])\.[0-9]+ /\1 /; s/ -> $//; s/^(d[^ ]*) [0-9]+ /\1 0 /' | tr -s ' ' | LC_ALL=C sort
}
actual_list() { tr -s ' ' <"$work/out" | LC_ALL=C sort; }
# Type, mode, size, nanosecond time, owner, name and link target of every entry.
describe() { (cd "$1" && find . -printf '%M %s %T@ %u:%g %p -> %l\n' | LC_ALL=C sort); }

same_tree() {
  diff -r --no-dereference "$1" "$2" >/dev/null || fail "contents differ: $1 $2"
  diff <(describe "$1") <(describe "$2") >&2 || fail "entries differ: $1 $2"
}

# A tree with nested folders, empty and large files, odd names, links of
# every kind, odd modes and dates, and a few thousand small files.
make_tree() {
  local t=$1 i j
  mkdir -p "$t/a/b/c/d/e/f/g" "$t/empty dir" "$t/many" "$t/ro dir/inner"
  : >"$t/empty"
  : >"$t/a/b/c/d/e/f/g/deep empty"
  head -c 1 /dev/urandom >"$t/one"
  head -c 65536 /dev/urandom >"$t/exactly 64K"
  head -c 65537 /dev/urandom >"$t/a/64K and one"
  head -c 3000000 /dev/urandom >"$t/a/b/big"
  printf 'x%.0s' $(seq 1 700) >"$t/a/b/c/$(printf 'n%.0s' $(seq 1 200))"
  printf 'spaces\n' >"$t/name with  spaces "
  printf 'accents\n' >"$t/café crème ünïcödé ✓"
  printf 'not a code\n' >"$t/looks like [0041] a code"
  printf 'new\n' >"$t/new"$'\n'"line"
  printf 'star\n' >"$t/a/b/star*?.txt"
  ln -s "café crème ünïcödé ✓" "$t/relative link"
  ln -s /etc/hostname "$t/absolute link"
  ln -s "no such target" "$t/dangling link"
  ln -s a/b "$t/folder link"
  printf 'ro\n' >"$t/ro dir/inner/read only"
  chmod 0444 "$t/ro dir/inner/read only"
  chmod 0555 "$t/ro dir/inner"
  chmod 1777 "$t/empty dir"
  printf 'x\n' >"$t/exec"
  chmod 0751 "$t/exec"
  touch -d '1975-03-04 05:06:07.123456789' "$t/one"
  touch -d '2100-01-02 03:04:05.5' "$t/empty"
  touch -h -d '2001-02-03 04:05:06.25' "$t/relative link"
  for ((i = 0; i < 30; i++)); do
    mkdir "$t/many/d$i"
    for ((j = 0; j < 100; j++)); do printf '%d %d\n' $i $j >"$t/many/d$i/f$j"; done
  done
  touch -d '1999-12-31 23:59:59' "$t/ro dir"
  touch -d '2200-06-07 08:09:10' "$t/exactly 64K"
}

case $case in
roundtrip)
  make_tree "$work/src/tree"
  expected_list "$work/src" tree | grep -v 'new$' | grep -v '^line' >"$work/expected"
  run 0 create -f "$work/s.sidf" -C "$work/src" tree
  ((($(stat -c %s "$work/s.sidf") % 512) == 0)) || fail "stream not a whole number of blocks"
  for bs in 64 100 512 4096 65536 1M; do
    run 0 list -f "$work/s.sidf" --buffer-size $bs
    grep -qF 'tree/new\nline' "$work/out" || fail "name with a line feed not escaped"
    grep -vF 'tree/new\nline' "$work/out" >"$work/out2" && mv "$work/out2" "$work/out"
    diff <(actual_list) "$work/expected" >&2 || fail "list at buffer size $bs"
    rm -rf "$work/x"
    mkdir "$work/x"
    run 0 extract -f "$work/s.sidf" -C "$work/x" --buffer-size $bs
    same_tree "$work/src/tree" "$work/x/tree"
  done
  # Patterns select names and everything below them; unmatched ones fail.
  run 0 list -f "$work/s.sidf" 'tree/a/b' '*.txt'
  [[ $(wc -l <"$work/out") == 10 ]] || fail "pattern list: $(cat "$work/out")"
  rm -rf "$work/x" && mkdir "$work/x"
  run 1 extract -f "$work/s.sidf" -C "$work/x" 'tree/many/d7' 'tree/nothing*'
  grep -q 'tree/nothing\*: not found' "$work/err" || fail "unmatched pattern not reported"
  [[ $(find "$work/x" -type f | wc -l) == 100 ]] || fail "pattern extract"
  run 0 list -f "$work/s.sidf" --dos-wildcards 'tree/many/d1?/f9'
  [[ $(wc -l <"$work/out") == 10 ]] || fail "enhanced matcher: $(cat "$work/out")"
  # A stream through a pipe, with a block size of 1 (no padding).
  (cd "$work/src" && "$bin" create -f - --block-size 1 tree/a) | "$bin" list -f - >"$work/out"
  [[ $(wc -l <"$work/out") == 12 ]] || fail "pipe"
  ;;

blocks)
  mkdir -p "$work/src/b/sub"
  for i in 1 2 3 4 5; do printf 'file %d\n' $i >"$work/src/b/sub/f$i"; done
  printf '%05000d' 7 >"$work/src/b/five thousand"
  ln -s sub "$work/src/b/link"
  printf 'suid\n' >"$work/src/b/suid"
  chmod 6755 "$work/src/b/suid"
  mkfifo "$work/src/fifo"
  for block in 1 100 512 4096 65536; do
    run 0 create -f "$work/s.sidf" -C "$work/src" --block-size $block --buffer-size $((64 + block % 1000)) b fifo
    grep -q 'fifo: FIFO ignored' "$work/err" || fail "FIFO not reported"
    (($(stat -c %s "$work/s.sidf") % block == 0)) || fail "stream not a whole number of $block-byte blocks"
    # Every record header (09 02 A5 5A) starts on a block boundary.
    while read -r at; do
      ((at % block == 0)) || fail "record at $at with block size $block"
    done < <(LC_ALL=C grep -obUaP '\x09\x02\xa5\x5a' "$work/s.sidf" | cut -d: -f1)
    [[ $(LC_ALL=C grep -obUaP '\x09\x02\xa5\x5a' "$work/s.sidf" | wc -l) == 10 ]] || fail "record count"
    rm -rf "$work/x" && mkdir "$work/x"
    run 0 extract -v -f - -C "$work/x" --buffer-size $((64 + block % 97)) <"$work/s.sidf"
    [[ $(wc -l <"$work/out") == 10 ]] || fail "-v names: $(cat "$work/out")"
    same_tree "$work/src/b" "$work/x/b"
  done
  # Set-id bits come back only for the superuser, who also restores owners.
  if (($(id -u) == 0)); then
    [[ $(stat -c %a "$work/x/b/suid") == 6755 ]] || fail "set-id bits"
  fi
  # Extracting again over the restored tree gives the same tree.
  run 0 extract -f "$work/s.sidf" -C "$work/x"
  same_tree "$work/src/b" "$work/x/b"
  ;;

latin1)
  export LC_ALL=en_US.ISO-8859-1
  mkdir -p "$work/src/t/d"$'\xe9'
  printf 'x' >"$work/src/t/caf"$'\xe9 au lait'
  ln -s "caf"$'\xe9 au lait' "$work/src/t/d"$'\xe9/lien'
  touch -h -d '2020-01-01 00:00:00' "$work/src/t/d"$'\xe9/lien'
  run 0 create -f "$work/l.sidf" -C "$work/src" t
  run 0 list -vv -f "$work/l.sidf" --buffer-size 64
  # The three name forms agree (each shown as locale text).
  grep -c "name space 0x[012]00: t/caf"$'\xe9 au lait$' "$work/out" | grep -qx 3 || fail "name forms"
  expected_list "$work/src" t >"$work/expected"
  run 0 list -f "$work/l.sidf"
  diff <(actual_list) "$work/expected" >&2 || fail "latin1 list"
  mkdir "$work/x"
  run 0 extract -f "$work/l.sidf" -C "$work/x" --buffer-size 100
  same_tree "$work/src/t" "$work/x/t"
  # Read in a UTF-8 locale, names and link targets come out in UTF-8.
  mkdir "$work/u"
  LC_ALL=en_US.UTF-8 run 0 extract -f "$work/l.sidf" -C "$work/u"
  [[ -f "$work/u/t/café au lait" && $(readlink "$work/u/t/dé/lien") == "café au lait" ]] ||
    fail "names not converted: $(find "$work/u" | od -c | head)"
  # A name the locale's code set cannot hold is kept in locale form.
  export LC_ALL=en_US.UTF-8
  mkdir -p "$work/bad"
  printf 'b' >"$work/bad/"$'\xff\xfe'
  run 0 create -f "$work/b.sidf" -C "$work" bad
  grep -q 'locale form only' "$work/err" || fail "no note on the unconvertible name"
  mkdir "$work/y"
  run 0 extract -f "$work/b.sidf" -C "$work/y"
  same_tree "$work/bad" "$work/y/bad"
  ;;

parts)
  mkdir -p "$work/src/p"
  head -c 10000 /dev/urandom >"$work/src/p/ten"
  head -c 3000 /dev/urandom >"$work/src/p/three"
  head -c 1000 /dev/urandom >"$work/src/p/exact"
  : >"$work/src/p/zero"
  run 0 create -f "$work/p.sidf" -C "$work/src" --part-size 1000 p
  for bs in 64 4096; do
    run 0 list -f "$work/p.sidf" --buffer-size $bs
    [[ $(wc -l <"$work/out") == 5 ]] || fail "parts listed once: $(cat "$work/out")"
    rm -rf "$work/x" && mkdir "$work/x"
    run 0 extract -f "$work/p.sidf" -C "$work/x" --buffer-size $bs
    same_tree "$work/src/p" "$work/x/p"
  done
  ;;

damaged)
  mkdir -p "$work/src/t/sub"
  head -c 2500 /dev/urandom >"$work/src/t/sub/data"
  printf 'small\n' >"$work/src/t/small"
  ln -s sub/data "$work/src/t/link"
  run 0 create -f "$work/s.sidf" -C "$work/src" --block-size 64 t
  size=$(stat -c %s "$work/s.sidf")
  check_outside() {
    [[ -z $(find "$work/box" -mindepth 1 -maxdepth 1 ! -name out) ]] || fail "wrote outside the target folder"
  }
  mkdir -p "$work/box"
  # Cuts: every 4th offset in the stream's headers and first record, then
  # every 29th; buffer sizes vary with the offset.
  for ((off = 0; off < size; off += (off < 400 ? 4 : 29))); do
    head -c $off "$work/s.sidf" >"$work/cut"
    run 1 list -f "$work/cut" --buffer-size $((64 + off % 3 * 36))
    if ((off % 6 == 0)); then
      rm -rf "$work/box/out" && mkdir "$work/box/out"
      run 1 extract -f "$work/cut" -C "$work/box/out"
      check_outside
    fi
  done
  # Flipped bits, at a stride that meets every kind of field.
  mapfile -t bytes < <(od -An -v -tu1 -w1 "$work/s.sidf")
  for ((off = 0; off < size; off += 23)); do
    cp "$work/s.sidf" "$work/flip"
    printf "\\$(printf %03o $(((bytes[off] ^ (1 << (off % 8))) & 255)))" |
      dd of="$work/flip" bs=1 seek=$off conv=notrunc status=none
    run 1 list -f "$work/flip" --buffer-size $((64 + off % 4 * 1000))
    if ((off % 4 == 0)); then
      rm -rf "$work/box/out" && mkdir "$work/box/out"
      run 1 extract -f "$work/flip" -C "$work/box/out"
      check_outside
      # A damaged file never stands under its own name.
      if [[ -f "$work/box/out/t/sub/data" ]]; then
        cmp -s "$work/box/out/t/sub/data" "$work/src/t/sub/data" || fail "damaged data restored at $off"
      fi
    fi
  done
  # Not a stream at all.
  head -c 5000 /dev/urandom >"$work/box/noise"
  run 1 list -f "$work/box/noise"
  run 1 list -f /dev/null
  ;;

hostile)
  mkdir -p "$work/src/b" "$work/box/out" "$work/outside"
  printf 'evil\n' >"$work/src/b/evil"
  printf 'evil\n' >"$work/src/f"
  ln -s "$work/outside" "$work/src/a"
  ln -s ../../outside "$work/src/rel"
  check_outside() {
    [[ -z $(find "$work/outside" -mindepth 1) ]] || fail "wrote through a link: $(find "$work/outside")"
    [[ -z $(find "$work/box" -mindepth 1 -maxdepth 1 ! -name out) ]] || fail "wrote outside the target folder"
  }
  # Absolute names and names with "..".
  run 0 create -f "$work/abs.sidf" -C "$work/src" --rename "f=$work/box/abs" --rename b=../../box/dots f b
  run 1 extract -f "$work/abs.sidf" -C "$work/box/out"
  grep -q 'refusing an absolute name' "$work/err" || fail "absolute name not refused"
  grep -q "refusing a name with '..'" "$work/err" || fail "'..' not refused"
  check_outside
  # A link, then a file below the link's name, in one stream.
  run 0 create -f "$work/link.sidf" -C "$work/src" --no-recursion --rename b=a a b/evil
  run 0 list -f "$work/link.sidf"
  run 1 extract -f "$work/link.sidf" -C "$work/box/out"
  grep -q 'refusing to write through the symbolic link a' "$work/err" || fail "link parent not refused"
  check_outside
  # A link left by one stream, a file below it from the next.
  run 0 create -f "$work/l1.sidf" -C "$work/src" rel
  run 0 create -f "$work/l2.sidf" -C "$work/src" --no-recursion --rename b=rel/x b/evil
  run 0 extract -f "$work/l1.sidf" -C "$work/box/out"
  run 1 extract -f "$work/l2.sidf" -C "$work/box/out"
  check_outside
  # A file whose name is already a link to the outside replaces the link.
  ln -s "$work/outside/victim" "$work/box/out/f"
  run 0 create -f "$work/f.sidf" -C "$work/src" f
  run 0 extract -f "$work/f.sidf" -C "$work/box/out"
  [[ -f "$work/box/out/f" && ! -L "$work/box/out/f" ]] || fail "link not replaced"
  check_outside
  ;;

usage)
  run any
  grep -q usage "$work/err" || fail "no usage text"
  for args in "list" "list -f" "frobnicate -f x" "create -f $work/u.sidf" "list -f x --buffer-size 63" \
    "list -f x --block-size 0" "extract -f x --bogus"; do
    rc=0
    "$bin" $args >/dev/null 2>"$work/err" || rc=$?
    ((rc == 2)) && grep -q '^sidfpack: ' "$work/err" || fail "bad usage '$args' gave exit $rc"
  done
  run 1 list -f "$work/missing.sidf"
  grep -q 'missing.sidf: No such file' "$work/err" || fail "missing stream: $(cat "$work/err")"
  mkdir -p "$work/src/d"
  printf 'x' >"$work/src/d/x"
  run 1 create -f "$work/p.sidf" -C "$work/src" d nothing-here
  grep -q 'nothing-here: No such file' "$work/err" || fail "missing path not reported"
  run 0 list -f "$work/p.sidf"
  [[ $(wc -l <"$work/out") == 2 ]] || fail "stream of the readable paths"
  run 1 extract -f "$work/p.sidf" -C "$work/no-such-dir"
  run any --help
  grep -q 'sidfpack create' "$work/out" || fail "--help"
  ;;

*)
  fail "unknown case"
  ;;
esac
echo "ok ($case)"
