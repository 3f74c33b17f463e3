#!/usr/bin/env bash
# sidfpack's incremental backups, run on the built binary:
#   sidfpack_incremental_test.sh SIDFPACK LOCPATH CASE
# Levels 0, 1 and 2 of a changing tree (-g), restored in order (-G) into an
# empty folder, equal the final tree: new, changed, deleted and renamed
# files, types turned over, hard links, large folders, ".". Damaged
# snapshots are refused.
source "$(dirname "$0")/lib.sh"

mkdir -p src/t/d src/t/gone/sub r
for f in still mod del old d/turn gone/sub/x $'nl\nname' 'back\slash'; do echo "$f" >"src/t/$f"; done
run 0 create -f l0.sidf -g snap -C src t
[[ $(head -1 snap) == "sidfpack-snapshot 1" ]] || fail "snapshot header: $(head -1 snap)"

echo new >src/t/new && echo more >>src/t/mod && rm src/t/del && mv src/t/old src/t/renamed
rm src/t/d/turn && mkdir src/t/d/turn && echo in >src/t/d/turn/inner
ln src/t/mod src/t/d/hard
run 0 create -f l1.sidf -g snap -C src t
run 0 list -f l1.sidf && sed -E 's/^([^ ]+ +){4}//; s/ (link to|->) .*//' out >names
for want in t/new t/mod t/renamed t/d/turn/inner t/d/hard; do grep -qxF "$want" names || fail "level 1 lacks $want"; done
for not in t/still t/gone/sub/x 't/nl\nname' 't/back\\slash'; do ! grep -qxF "$not" names || fail "level 1 holds unchanged $not"; done
[[ -z $(find . -maxdepth 1 -name '.snap*') ]] || fail "temporary snapshot left: $(ls -a)"

rm -r src/t/d/turn && echo back >src/t/d/turn && rm -r src/t/gone && ln -s still src/t/gone
mv src/t/d src/t/e && echo changed >src/t/renamed && ln src/t/new src/t/e/hard2
run 0 create -f l2.sidf -g snap -C src t

for l in l0 l1; do run 0 extract --incremental -f $l.sidf -C r; done
# What a level removes goes, links removed not followed, trees at any depth.
mkdir -p outside r/t/stale/deep && echo keep >outside/f && ln -s ../../outside r/t/evil
ln -s ../../../../outside r/t/stale/deep/up && mkdir -p r/t/stale/$(printf 'd/%.0s' {1..100})
run 0 extract -G -f l2.sidf -C r
[[ -f outside/f && ! -e r/t/evil && ! -e r/t/stale ]] || fail "removal: $(ls -R outside r/t)"
diff -r --no-dereference src/t r/t >out || fail "restored chain differs: $(cat out)"
run 0 create -f full.sidf -C src t
run 0 diff -f full.sidf -C r
[[ ! -s out ]] || fail "diff of the restored chain: $(cat out)"

# The folder "." keeps its list too, and a folder of thousands of names its
# whole list.
mkdir -p top/big && (cd top/big && seq -f 'a-rather-long-file-name-%05g' 3000 | xargs touch) && echo x >top/gone
run 0 create -f t0.sidf -g tsnap -C top .
rm top/gone top/big/a-rather-long-file-name-01500
run 0 create -f t1.sidf -g tsnap -C top .
mkdir rt && for l in t0 t1; do run 0 extract -G -f $l.sidf -C rt; done
diff -r top rt >out || fail "restored chain of '.' differs: $(head -3 out)"
run 0 diff -f t1.sidf -C rt
"$(dirname "$bin")/sidfdump" t1.sidf >dump || fail "sidfdump on a level"
has dump "53500009 list of names" "sidfdump names no list of names"
has dump "5350000A list of names in the content" "sidfdump names no list held as content"

# Without -G a level adds what is new and keeps what is gone.
mkdir r2 && for l in l0 l1; do run 0 extract -f $l.sidf -C r2; done
[[ -e r2/t/del && -e r2/t/old ]] || fail "without -G files were removed"

# A damaged snapshot is refused before anything is written; a bad option use too.
for line in "f 1 2 x 4 5 6 7 t/zz" "q 1 2 3 4 5 6 7 t/zz" "f 1 2 3 4 5000000000 6 7 t/zz" "f  1 2 3 4 5 6 7 t/zz" \
  "f 1 2 3 4 5 6 7 " "f 1 2 3 4 5 6 7 t/\\9" "$(tail -1 snap)"; do
  cp snap bad && echo "$line" >>bad && cp bad bad.before
  run 2 create -f bad.sidf -g bad -C src t
  has err "damaged line" "no message for a damaged snapshot line '$line'"
  [[ ! -e bad.sidf ]] && cmp -s bad bad.before || fail "a damaged snapshot run wrote something"
done
printf 'sidfpack-snapshot 9\n' >bad2 && run 2 create -f bad.sidf -g bad2 -C src t
has err "another version" "no message for an unknown snapshot version"
run 2 extract -f l0.sidf -g snap
