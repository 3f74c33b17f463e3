#!/usr/bin/env bash
# Installs a build of libdpxut into a scratch prefix and builds hosts against
# that installed copy only, the way C and C++ projects consume a system
# library. The host is tests/abi/header_c99_test.c, as C99 and as C++.
#   run.sh install BUILD PREFIX    cmake --install, then check the layout
#   run.sh pkg-config PREFIX WORK  C99 host compiled with pkg-config's flags
#   run.sh cmake PREFIX WORK       C++ host built with find_package(dpxut)
#   run.sh examples PREFIX WORK    examples/write.c and list.c built with
#                                  pkg-config's flags; a stream written by one
#                                  is listed by the other
# The build passes in its environment: CC, CXX, DPXUT_GENERATOR,
# DPXUT_VERSION, DPXUT_LIBDIR, DPXUT_INCLUDEDIR, DPXUT_BINDIR (relative to
# the prefix), DPXUT_TOOLS (installed tool names), DPXUT_TOOLS_RUNPATH (ON
# when the tools carry a run path to the library) and DPXUT_HOST_FLAGS
# (compile and link flags hosts of a sanitizer build need).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
unset DESTDIR
fail() { echo "consumer: $*" >&2 && exit 1; }
# Runs a command quietly; shows its output only when it fails.
quiet() { local log && log=$("$@" 2>&1) || { echo "$log" >&2 && fail "failed: $*"; }; }

# PROGRAM PREFIX: the program loads libdpxut.so.0 from the prefix, not from
# the build tree or the system.
loads_from_prefix() {
  local path
  path=$(ldd "$1" | sed -n 's/^\s*libdpxut\.so\.0 => \(\/.*\) (0x.*$/\1/p')
  [[ -n $path && $(realpath "$path") == "$(realpath "$2")"/* ]] || fail "$1 loads libdpxut.so.0 from '$path', not $2"
}

do_install() {  # BUILD PREFIX
  local prefix=$2 lib=$2/$DPXUT_LIBDIR real=libdpxut.so.$DPXUT_VERSION tool
  rm -rf "$prefix"
  quiet cmake --install "$1" --prefix "$prefix"
  [[ $(readlink "$lib/libdpxut.so.0") == "$real" && $(readlink "$lib/libdpxut.so") == libdpxut.so.0 ]] ||
    fail "libdpxut.so -> libdpxut.so.0 -> $real links missing"
  local h
  for h in dpxut.h dpxut_stream.h; do
    cmp -s "$prefix/$DPXUT_INCLUDEDIR/$h" "$here/../../include/$h" || fail "$h differs"
  done
  # Exactly these files: no static library, test, benchmark or fuzz target.
  local want=("$DPXUT_LIBDIR"/{"$real",libdpxut.so.0,libdpxut.so,pkgconfig/dpxut.pc}
    "$DPXUT_LIBDIR"/cmake/dpxut/dpxut{Config,ConfigVersion,Targets}.cmake "$DPXUT_INCLUDEDIR"/dpxut{,_stream}.h)
  for tool in $DPXUT_TOOLS; do want+=("$DPXUT_BINDIR/$tool"); done
  local got
  got=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | grep -v '/cmake/dpxut/dpxutTargets-[a-z]*\.cmake$' | sort)
  diff <(printf '%s\n' "${want[@]}" | sort) <(echo "$got") >&2 || fail "installed files differ"
  # Installed tools find the library through their run path alone, unless
  # the build is meant for a library directory the loader searches anyway.
  [[ ${DPXUT_TOOLS_RUNPATH:-ON} == ON ]] || export LD_LIBRARY_PATH=$lib
  for tool in $DPXUT_TOOLS; do loads_from_prefix "$prefix/$DPXUT_BINDIR/$tool" "$prefix"; done
}

do_pkg_config() {  # PREFIX WORK
  local prefix=$1 work=$2
  mkdir -p "$work"
  export PKG_CONFIG_PATH=$prefix/$DPXUT_LIBDIR/pkgconfig LD_LIBRARY_PATH=$prefix/$DPXUT_LIBDIR
  [[ $(pkg-config --modversion dpxut) == "$DPXUT_VERSION" ]] || fail "pkg-config version is not $DPXUT_VERSION"
  [[ $(pkg-config --variable=prefix dpxut) == "$prefix" ]] || fail "dpxut.pc prefix is not $prefix"
  # shellcheck disable=SC2046,SC2086  # flags are words
  "${CC:-cc}" -std=c99 -pedantic-errors -Wall -Wextra -Werror ${DPXUT_HOST_FLAGS:-} \
    "$here/../abi/header_c99_test.c" -o "$work/host_c" $(pkg-config --cflags --libs dpxut)
  loads_from_prefix "$work/host_c" "$prefix"
  "$work/host_c" || fail "host_c failed check $?"
}

do_cmake() {  # PREFIX WORK
  local prefix=$1 work=$2
  rm -rf "$work"
  quiet cmake -S "$here/cpp" -B "$work" -G "${DPXUT_GENERATOR:-Ninja}" -DCMAKE_CXX_COMPILER="${CXX:-c++}" \
    -DCMAKE_CXX_FLAGS="${DPXUT_HOST_FLAGS:-}" -DCMAKE_EXE_LINKER_FLAGS="${DPXUT_HOST_FLAGS:-}" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DDPXUT_VERSION="$DPXUT_VERSION"
  quiet cmake --build "$work"
  loads_from_prefix "$work/host_cpp" "$prefix"
  "$work/host_cpp" || fail "host_cpp failed check $?"
}

do_examples() {  # PREFIX WORK
  local prefix=$1 work=$2 ex
  rm -rf "$work" && mkdir -p "$work/in"
  export PKG_CONFIG_PATH=$prefix/$DPXUT_LIBDIR/pkgconfig LD_LIBRARY_PATH=$prefix/$DPXUT_LIBDIR
  for ex in list write; do
    # shellcheck disable=SC2046,SC2086  # flags are words
    "${CC:-cc}" -std=c99 -pedantic-errors -Wall -Wextra -Werror ${DPXUT_HOST_FLAGS:-} \
      "$here/../../examples/$ex.c" -o "$work/$ex" $(pkg-config --cflags --libs dpxut)
    loads_from_prefix "$work/$ex" "$prefix"
  done
  printf 'one\n' >"$work/in/a" && head -c 100000 /dev/zero >"$work/in/b"
  (cd "$work/in" && "$work/write" ../s.sidf a b) || fail "write.c failed"
  TZ=UTC "$work/list" "$work/s.sidf" 7 >"$work/out" || fail "list.c failed"
  [[ $(awk '{print $1, $4}' "$work/out") == $'4 a\n100000 b' ]] || fail "list.c printed: $(cat "$work/out")"
}

[[ ${1:-} =~ ^(install|pkg-config|cmake|examples)$ ]] ||
  fail "usage: $0 install BUILD PREFIX | pkg-config PREFIX WORK | cmake PREFIX WORK | examples PREFIX WORK"
"do_${1/-/_}" "${@:2}"
