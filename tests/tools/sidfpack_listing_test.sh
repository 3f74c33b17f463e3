#!/usr/bin/env bash
# Listings of sidfpack and sidfdump, run on the built binaries:
#   sidfpack_listing_test.sh SIDFPACK LOCPATH CASE SIDFDUMP
# Long names are never cut; controls, bidirectional controls and bytes that
# are no character are escaped; --exclude leaves out names and what lies
# below them; a PATTERN costs about one match even against a name of 30,000
# components.
source "$(dirname "$0")/lib.sh"
dump=$4

# A 600-byte name (three components), a link after it, and hostile names.
long=$(printf 'd%.0s' {1..200})/$(printf 'e%.0s' {1..200})/$(printf 'f%.0s' {1..195}).txt
mkdir -p "t/${long%/*}" t/skip/deep && echo x >"t/$long" && ln -s "$long" t/link && echo s >t/skip/deep/s
for n in $'c1-\xc2\x9b' $'bidi-\xe2\x80\xae' $'bad-\xff' 'back\slash'; do echo n >"t/$n"; done
run 0 create -f s.sidf t
for v in "" -v -vv; do
  run 0 list -f s.sidf $v "t/d*" t/link
  has out "t/$long" "name cut in list $v"
  has out "t/link -> $long" "link target cut in list $v"
done
run 1 list -f s.sidf "t/$long/none"
has err "t/$long/none: not found" "name cut in a message"

# In a UTF-8 locale, code points show as \u{XXXX}, other bytes in octal.
run 0 list -f s.sidf -v
for want in 't/c1-\u{009B}' 't/bidi-\u{202E}' 't/bad-\377' 't/back\\slash'; do has out "$want" "escape $want"; done
! LC_ALL=C grep -qaP '\xc2\x9b|\xe2\x80\xae|\xff' out || fail "raw controls in the listing"
# In ISO-8859-1, the C1 byte.
LC_ALL=en_US.ISO-8859-1 run any list -f s.sidf 't/c1*'
has out 't/c1-\233' "C1 byte in ISO-8859-1"
"$dump" s.sidf >out 2>err || fail "sidfdump on a stream"
has out 'c1-\u{9B}' "C1 in sidfdump" && has out 'bidi-\u{202E}' "bidi in sidfdump"
! LC_ALL=C grep -qaP '\xc2\x9b|\xe2\x80\xae' out || fail "raw controls in sidfdump"

# --exclude: a pattern without '/' at any depth, one with '/' from the top.
run 0 list -f s.sidf --exclude 'c1-*' --exclude t/skip --exclude 'bidi*'
! grep -qE 'c1-|bidi-|skip' out || fail "excluded names listed"
has out 't/bad-' "exclusion too wide"

# One record named with 30,000 components: patterns decide in about the
# time of one match (the whole command well under 2 s).
deep=$(printf 'a/%.0s' {1..30000})z
run 0 create -f deep.sidf --rename "t/link=$deep" --no-recursion t/link
timed() {
  local t0=$(date +%s%N)
  run "$@"
  (($(date +%s%N) - t0 < 2000000000)) || fail "slow: ${*:2}"
}
for p in '*/*.c' '*/*/*.c' 'a/a/*/b'; do
  timed 1 list -f deep.sidf "$p"
  fresh x && timed 1 extract -f deep.sidf -C x "$p"
done
timed 0 list -f deep.sidf 'a/*/a' && lines 1 "prefix pattern"
timed 0 list -f deep.sidf --exclude '*.c' --exclude 'b' && lines 1 "exclusion on a deep name"
echo "ok (listing)"
