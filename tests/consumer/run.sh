#!/usr/bin/env bash
# Installs a build of libdpxut into a scratch prefix and builds small hosts
# against that installed copy only, the way C and C++ projects consume a
# system library.
#   run.sh install BUILD PREFIX    cmake --install, then check the layout
#   run.sh pkg-config PREFIX WORK  C99 host compiled with pkg-config's flags
#   run.sh cmake PREFIX WORK       C++ host built with find_package(dpxut)
# The build passes in its environment: CC, CXX, DPXUT_GENERATOR,
# DPXUT_VERSION, DPXUT_LIBDIR, DPXUT_INCLUDEDIR, DPXUT_BINDIR (relative to
# the prefix), DPXUT_TOOLS (installed tool names), DPXUT_TOOLS_RUNPATH (ON
# when the tools carry a run path to the library) and DPXUT_HOST_FLAGS
# (compile and link flags hosts of a sanitizer build need).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
unset DESTDIR

fail() { echo "consumer: $*" >&2; exit 1; }

# Runs a command quietly; shows its output only when it fails.
quiet() {
  local log
  log=$("$@" 2>&1) || { echo "$log" >&2; fail "failed: $*"; }
}

# The host must load libdpxut.so.0 from the prefix, not from the build tree
# or the system.
loads_from_prefix() {  # PROGRAM PREFIX
  local line
  line=$(ldd "$1" | grep 'libdpxut\.so\.0 ') || fail "$1 does not need libdpxut.so.0"
  local path=${line#*=> }
  path=${path%% (*}
  [[ $path == /* ]] || fail "$1: libdpxut.so.0 not found"
  path=$(realpath "$path")
  [[ $path == "$(realpath "$2")"/* ]] || fail "$1 loads $path, not the copy in $2"
}

do_install() {  # BUILD PREFIX
  local build=$1 prefix=$2
  rm -rf "$prefix"
  quiet cmake --install "$build" --prefix "$prefix"
  local lib=$prefix/$DPXUT_LIBDIR real=libdpxut.so.$DPXUT_VERSION
  [[ -f $lib/$real && ! -L $lib/$real ]] || fail "$real missing"
  [[ $(readlink "$lib/libdpxut.so.0") == "$real" ]] || fail "libdpxut.so.0 is not a link to $real"
  [[ $(readlink "$lib/libdpxut.so") == libdpxut.so.0 ]] || fail "libdpxut.so is not a link to libdpxut.so.0"
  readelf -d "$lib/$real" | grep -q 'Library soname: \[libdpxut\.so\.0\]' || fail "SONAME is not libdpxut.so.0"
  cmp -s "$prefix/$DPXUT_INCLUDEDIR/dpxut.h" "$here/../../include/dpxut.h" || fail "dpxut.h differs"

  # Exactly these files: no static library, test, benchmark or fuzz target.
  local expected=(
    "$DPXUT_LIBDIR/$real" "$DPXUT_LIBDIR/libdpxut.so.0" "$DPXUT_LIBDIR/libdpxut.so"
    "$DPXUT_INCLUDEDIR/dpxut.h" "$DPXUT_LIBDIR/pkgconfig/dpxut.pc"
    "$DPXUT_LIBDIR/cmake/dpxut/dpxutConfig.cmake"
    "$DPXUT_LIBDIR/cmake/dpxut/dpxutConfigVersion.cmake"
    "$DPXUT_LIBDIR/cmake/dpxut/dpxutTargets.cmake")
  local tool
  for tool in $DPXUT_TOOLS; do expected+=("$DPXUT_BINDIR/$tool"); done
  local got want
  got=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | grep -v '^[^ ]*/cmake/dpxut/dpxutTargets-[a-z]*\.cmake$' | sort)
  want=$(printf '%s\n' "${expected[@]}" | sort)
  [[ $got == "$want" ]] || fail "installed files differ:"$'\n'"$(diff <(echo "$want") <(echo "$got"))"
  # Installed tools find the library through their run path alone, unless
  # the build is meant for a library directory the loader searches anyway.
  [[ ${DPXUT_TOOLS_RUNPATH:-ON} == ON ]] || export LD_LIBRARY_PATH=$lib
  for tool in $DPXUT_TOOLS; do loads_from_prefix "$prefix/$DPXUT_BINDIR/$tool" "$prefix"; done
}

do_pkg_config() {  # PREFIX WORK
  local prefix=$1 work=$2
  mkdir -p "$work"
  export PKG_CONFIG_PATH=$prefix/$DPXUT_LIBDIR/pkgconfig
  [[ $(pkg-config --modversion dpxut) == "$DPXUT_VERSION" ]] || fail "pkg-config version is not $DPXUT_VERSION"
  [[ $(pkg-config --variable=prefix dpxut) == "$prefix" ]] || fail "dpxut.pc prefix is not $prefix"
  local flags
  flags=$(pkg-config --cflags --libs dpxut)
  # shellcheck disable=SC2086  # flags are words
  "${CC:-cc}" -std=c99 -pedantic-errors -Wall -Wextra -Werror ${DPXUT_HOST_FLAGS:-} \
    "$here/c/host.c" -o "$work/host_c" $flags
  export LD_LIBRARY_PATH=$prefix/$DPXUT_LIBDIR
  loads_from_prefix "$work/host_c" "$prefix"
  "$work/host_c"
}

do_cmake() {  # PREFIX WORK
  local prefix=$1 work=$2
  rm -rf "$work"
  quiet cmake -S "$here/cpp" -B "$work" -G "${DPXUT_GENERATOR:-Ninja}" \
    -DCMAKE_CXX_COMPILER="${CXX:-c++}" \
    -DCMAKE_CXX_FLAGS="${DPXUT_HOST_FLAGS:-}" -DCMAKE_EXE_LINKER_FLAGS="${DPXUT_HOST_FLAGS:-}" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
    -DDPXUT_VERSION="$DPXUT_VERSION"
  local found
  found=$(sed -n 's/^dpxut_DIR:PATH=//p' "$work/CMakeCache.txt")
  [[ $(realpath "$found") == "$(realpath "$prefix")"/* ]] || fail "find_package found $found, not the copy in $prefix"
  quiet cmake --build "$work"
  loads_from_prefix "$work/host_cpp" "$prefix"
  "$work/host_cpp"
}

case "${1:-}" in
  install) do_install "$2" "$3" ;;
  pkg-config) do_pkg_config "$2" "$3" ;;
  cmake) do_cmake "$2" "$3" ;;
  *) echo "usage: $0 install BUILD PREFIX | pkg-config PREFIX WORK | cmake PREFIX WORK" >&2; exit 2 ;;
esac
