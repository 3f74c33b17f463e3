#!/usr/bin/env bash
# Hard links: a file with several names is stored once, its later names as
# links to the first stored one, and comes back as one file with as many
# names. Run as: sidfpack_links_test.sh SIDFPACK LOCPATH
source "$(dirname "$0")/lib.sh"

inode() { stat -c %d:%i "$1"; }
# same_file A B...: the names are one file, with A's content.
same_file() {
  local a=$1
  shift
  for b; do [[ $(inode "$a") == $(inode "$b") ]] || fail "$a and $b are not one file"; done
}

mkdir -p src/d src/e
head -c 300000 /dev/urandom >src/d/a
ln src/d/a src/d/b && ln src/d/a src/e/c
echo one >src/single && ln src/single src/other
run 0 create -f one.sidf src/d/a
run 0 create -v -f s.sidf src
# The 300,000 bytes are stored once: the stream of the whole tree is barely
# larger than that of one name.
(($(stat -c %s s.sidf) < $(stat -c %s one.sidf) + 8192)) || fail "content stored more than once"
fresh x && run 0 extract -f s.sidf -C x
same_tree src x/src
same_file x/src/d/a x/src/d/b x/src/e/c
same_file x/src/other x/src/single
[[ $(stat -c %h x/src/d/a) == 3 ]] || fail "link count $(stat -c %h x/src/d/a)"

# The first name left out: the next name met carries the content.
run 0 create -f ex.sidf --exclude src/d/a src
fresh x && run 0 extract -f ex.sidf -C x
[[ ! -e x/src/d/a ]] || fail "excluded name restored"
cmp -s src/d/a x/src/d/b || fail "content lost with its first name"
same_file x/src/d/b x/src/e/c

# Links to a file outside the operands are stored with their content.
run 0 create -f part.sidf src/e
fresh x && run 0 extract -f part.sidf -C x
cmp -s src/d/a x/src/e/c || fail "lone name stored without content"

# Renamed: the link follows the stored name of its first member.
run 0 create -f ren.sidf --rename src/d=moved src
fresh x && run 0 extract -f ren.sidf -C x
same_file x/moved/a x/moved/b x/src/e/c

# Extracting over a tree that holds the names already gives the same links.
run 0 extract -f s.sidf -C x
same_file x/src/d/a x/src/d/b x/src/e/c
