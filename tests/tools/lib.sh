# Shared helpers of the sidfpack integration scripts. Each script starts with
#   source "$(dirname "$0")/lib.sh"
# and is run as SCRIPT SIDFPACK LOCPATH [CASE]. Afterwards: $bin is the tool,
# $case the case, the locale is en_US.UTF-8 in UTC, and the working directory
# is a scratch folder removed on exit.
set -euo pipefail
# The shell itself needs LOCPATH from its start to switch to the test locales.
if [[ ${LOCPATH:-} != "$2" ]]; then
  LOCPATH=$(cd "$2" && pwd) exec bash "$(realpath "$0")" "$(realpath "$1")" "$(cd "$2" && pwd)" "${@:3}"
fi
bin=$1 case=${3:-all}
export LC_ALL=en_US.UTF-8 TZ=UTC
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL ($case): $*" >&2 && exit 1; }
skip() { echo "SKIP ($case): $*" && exit 0; }

# run EXPECT ARGS...: EXPECT is the exit status (0; 1, an entry failed or
# differs, or 2, usage or a fatal error, with a message) or any; the status
# is left in $rc. Output in ./out, messages in ./err. A crash, a sanitizer
# report or a hang fails the test whatever the case expects.
run() {
  local expect=$1
  shift
  rc=0
  timeout 120 "$bin" "$@" >out 2>err || rc=$?
  ((rc != 124)) || fail "hang: $*"
  if ((rc >= 126)) || grep -qE 'Sanitizer|runtime error' err; then cat err >&2 && fail "crash $rc: $*"; fi
  [[ $expect != any ]] || return 0
  ((rc == expect)) || { cat err >&2 && fail "wanted exit $expect, got $rc: $*"; }
  ((rc == 0)) || grep -q '^sidfpack: ' err || fail "no message: $*"
}

# lines N WHAT: ./out holds N lines.
lines() { [[ $(wc -l <out) == "$1" ]] || fail "$2: $(cat out)"; }
# has FILE TEXT WHAT: FILE holds the fixed TEXT.
has() { grep -qF -- "$2" "$1" || { cat "$1" >&2 && fail "$3"; }; }
fresh() { rm -rf "$1" && mkdir -p "$1"; }

# Type, mode, size, nanosecond time, owner, name and link target of every entry.
describe() { (cd "$1" && find . -printf '%M %s %T@ %u:%g %p -> %l\n' | LC_ALL=C sort); }
same_tree() {
  diff -r --no-dereference "$1" "$2" >/dev/null && diff <(describe "$1") <(describe "$2") >&2 || fail "$1 and $2 differ"
}
# extract_same STREAM DIR NAME [OPTION...]: extracts into a fresh x/, which
# must then hold DIR/NAME byte for byte.
extract_same() { fresh x && run 0 extract -p -f "$1" -C x "${@:4}" && same_tree "$2/$3" "x/$3"; }
