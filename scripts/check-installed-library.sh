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
# The emulator's control header (korvane_emu.h) is installed beside them.
installed=$(cd "$include" && ls | grep -v -x korvane_emu.h | sort)
if [ "$installed" != "$expected" ]; then
  echo "installed headers differ from korvane.h and what it includes:" >&2
  diff <(echo "$expected") <(echo "$installed") >&2
  exit 1
fi

# The headers define no macro but their include guards and the version
# macros (KORVANE_VERSION_*): the macros of
# korvane.h and of the system headers it uses, less those of the system
# headers alone.
system_headers=$(grep -h '^#include <' "$include"/*.h | sort -u)
macros_of() { printf '%s\n' "$@" | g++ -std=c++17 -dM -E -x c++ -I"$work/prefix/include" - | sort; }
extra=$(comm -13 <(macros_of "$system_headers") <(macros_of "$system_headers" '#include <korvane/korvane.h>') |
  grep -v -E '^#define KORVANE_([A-Z0-9_]+_H $|VERSION_[A-Z]+ )' || true)
[ -z "$extra" ] || { echo "macros of the public headers: $extra" >&2; exit 1; }

# Every symbol the library exports is the namespace's, or belongs to an
# instantiation of the standard library's templates (mangled names: entity,
# its typeinfo, name or vtable, a local static, in korvane or std), but the
# C entry points, whose names carry the korvane_ prefix instead.
library=$(find "$work/prefix" -name 'libkorvane.so.*.*' | head -n 1)
stray=$(nm -D --defined-only "$library" | awk '{print $3}' |
  grep -v -E '^(_Z(T[ISV]|GV)?Z?N?K?(7korvane|St|S[a-z])|korvane_[a-z_]+$)' | c++filt || true)
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

# The version compiled in (the header's macros) and the one run with
# (korvane::version()) are the version the package files declare.
cat > "$work/version.cpp" <<'EOF'
#include <cstdio>
#include <korvane/version.h>
int main() {
    std::printf("%s %d.%d.%d\n", korvane::version(), KORVANE_VERSION_MAJOR,
                KORVANE_VERSION_MINOR, KORVANE_VERSION_PATCH);
}
EOF
# shellcheck disable=SC2086
g++ -std=c++17 "$work/version.cpp" -o "$work/version" $flags -Wl,-rpath,"$libdir"
pc_version=$(PKG_CONFIG_PATH=$pc_dir pkg-config --modversion korvane)
if [ "$("$work/version")" != "$pc_version $pc_version" ]; then
  echo "version.h says $("$work/version"), korvane.pc says $pc_version" >&2
  exit 1
fi

# Each program on an emulated meter twice: under the installed launcher, and
# with the emulated library chosen as the backend by the environment (found
# beside the installed library, nothing preloaded).
expected=$'DMM DM-0042, firmware 1.0.0\nvoltage: 5.0000 V\ncurrent: 0.2500 A'
for program in "$work/cmake-build/read_meter" "$work/read_meter_pc"; do
  for route in launcher backend; do
    if [ $route = launcher ]; then
      out=$(env -u KORVANE_EMU_LIB "$work/prefix/bin/korvane-emu" --device DMM:DM-0042 -- "$program" DM-0042)
    else
      out=$(env -u KORVANE_EMU_LIB -u LD_PRELOAD KORVANE_BACKEND=emulator KORVANE_EMU_DEVICES=DMM:DM-0042 \
        "$program" DM-0042)
    fi
    if [ "$out" != "$expected" ]; then
      echo "unexpected output of $program ($route):" >&2
      echo "$out" >&2
      exit 1
    fi
  done
  # Linked against the installed library, not the build tree's.
  libraries=$(ldd "$program")
  [[ $libraries == *"$work/prefix"* ]] || { echo "$program does not use the installed library" >&2; exit 1; }
done
echo "installed library: headers, CMake package, pkg-config file and the emulator work"
