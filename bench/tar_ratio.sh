#!/usr/bin/env bash
# Wall time of sidfpack against GNU tar on one tree, side by side in one run:
# create, extract and a verbose listing, each the median of RUNS runs, and
# the ratio sidfpack / tar (below 1: sidfpack is faster).
#   bench/tar_ratio.sh SIDFPACK [TREE...] [-- RUNS]
# Each TREE (default: /usr/include and /usr/share/doc) is copied once into a
# scratch folder on tmpfs (/dev/shm), so the disk does not decide; streams
# and extractions go there too. Both tools run with their defaults, except
# that tar keeps numeric owners out of it the same way sidfpack does: both
# look owners up by name.
set -euo pipefail
pack=$(realpath "$1")
shift
trees=() runs=5
while (($#)); do
  if [[ $1 == -- ]]; then runs=$2 && break; fi
  trees+=("$1") && shift
done
((${#trees[@]})) || trees=(/usr/include /usr/share/doc)
work=$(mktemp -d /dev/shm/tar_ratio.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tree"
for t in "${trees[@]}"; do cp -a "$t" "$work/tree/"; done
cd "$work"
entries=$(find tree | wc -l)
echo "tree: ${trees[*]} ($(du -sh tree | cut -f1), $entries entries), median of $runs runs"

# median SECONDS...: the middle value.
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# timed CMD...: wall seconds of one run, output discarded.
timed() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
# compare LABEL 'SIDFPACK COMMAND' 'TAR COMMAND' [PREPARE]: runs both RUNS
# times, alternating, after PREPARE each time.
compare() {
  local label=$1 ours=$2 theirs=$3 prep=${4:-true} a=() b=() i
  for ((i = 0; i < runs; i++)); do
    eval "$prep" && a+=("$(timed bash -c "$ours")")
    eval "$prep" && b+=("$(timed bash -c "$theirs")")
  done
  local ma mb
  ma=$(median "${a[@]}") mb=$(median "${b[@]}")
  printf '%-10s sidfpack %7.3f s   tar %7.3f s   ratio %.2f\n' "$label" "$ma" "$mb" "$(echo "$ma / $mb" | bc -l)"
}

compare create "$pack create -f s.sidf -C tree ." "tar -cf s.tar -C tree ."
ls -l s.sidf s.tar | awk '{printf "  %s %d bytes\n", $NF, $5}'
compare extract "$pack extract -f s.sidf -C x" "tar -xf s.tar -C x" "rm -rf x && mkdir x"
compare "list -v" "$pack list -v -f s.sidf" "tar -tvf s.tar"
