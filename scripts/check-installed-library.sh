#!/usr/bin/env bash
# Installs the library from a build tree into a temporary prefix, checks that
# only the public headers are there and that they and the library keep to
# namespace korvane, builds the C++ example against it twice (CMake package,
# pkg-config) with the level and direction macros of Arduino-style code
# defined first, and runs both on an emulated meter. Run by ctest; usage:
# check-installed-library.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
include=$work/prefix/include/korvane

# Installed: korvane.h and exactly the headers it includes; an internal
# header (the receive queue, the device claim, ...) is not.
expected=$( (echo korvane.h; sed -n 's/^#include "\(.*\)"$/\1/p' "$include/korvane.h") | sort)
installed=$(cd "$include" && ls | sort)
if [ "$installed" != "$expected" ]; then
  echo "installed headers differ from korvane.h and what it includes:" >&2
  diff <(echo "$expected") <(echo "$installed") >&2
  exit 1
fi

# The headers define no macro but their include guards: the macros of
# korvane.h and of the system headers it uses, less those of the system
# headers alone.
system_headers=$(grep -h '^#include <' "$include"/*.h | sort -u)
macros_of() { printf '%s\n' "$@" | g++ -std=c++17 -dM -E -x c++ -I"$work/prefix/include" - | sort; }
extra=$(comm -13 <(macros_of "$system_headers") <(macros_of "$system_headers" '#include <korvane/korvane.h>') |
  grep -v -E '^#define KORVANE_[A-Z0-9_]+_H $' || true)
[ -z "$extra" ] || { echo "macros of the public headers: $extra" >&2; exit 1; }

# Every symbol the library exports is the namespace's, or belongs to an
# instantiation of the standard library's templates (mangled names: entity,
# its typeinfo, name or vtable, a local static, in korvane or std).
library=$(find "$work/prefix" -name 'libkorvane.so.*.*' | head -n 1)
stray=$(nm -D --defined-only "$library" | awk '{print $3}' |
  grep -v -E '^_Z(T[ISV]|GV)?Z?N?K?(7korvane|St|S[a-z])' | c++filt || true)
[ -z "$stray" ] || { echo "symbols outside namespace korvane: $stray" >&2; exit 1; }

# Code that defines these before it includes the library (Arduino-style
# code, GPIO libraries) builds: the headers use none of them as a name.
level_macros="-DHIGH=1 -DLOW=0 -DINPUT=0 -DOUTPUT=1"
cmake -S "$root/examples/cpp" -B "$work/cmake-build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_FLAGS="$level_macros" >/dev/null
cmake --build "$work/cmake-build" >"$work/build.log" || { cat "$work/build.log" >&2; exit 1; }

pc_dir=$(dirname "$(find "$work/prefix" -name korvane.pc)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs korvane)
libdir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir korvane)
# shellcheck disable=SC2086
g++ -std=c++17 $level_macros "$root/examples/cpp/read_meter.cpp" -o "$work/read_meter_pc" $flags -Wl,-rpath,"$libdir"

for program in "$work/cmake-build/read_meter" "$work/read_meter_pc"; do
  out=$("$build/emulator/korvane-emu" --device DMM:DM-0042 -- "$program" DM-0042)
  expected=$'DMM DM-0042, firmware 1.0.0\nvoltage: 5.0000 V\ncurrent: 0.2500 A'
  if [ "$out" != "$expected" ]; then
    echo "unexpected output of $program:" >&2
    echo "$out" >&2
    exit 1
  fi
  # Linked against the installed library, not the build tree's.
  libraries=$(ldd "$program")
  [[ $libraries == *"$work/prefix"* ]] || { echo "$program does not use the installed library" >&2; exit 1; }
done
echo "installed library: headers, CMake package and pkg-config file work"
