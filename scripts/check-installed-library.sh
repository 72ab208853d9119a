#!/usr/bin/env bash
# Installs the library from a build tree into a temporary prefix, checks that
# only the public headers are there and that they and the library keep to
# namespace korvane, and builds the C++ examples three ways: against the
# installed CMake package and pkg-config file (with the level and direction
# macros of Arduino-style code defined first), and with the library's sources
# as a subdirectory of their project, where neither SWIG, pybind11, Python
# nor GoogleTest may be looked for; the library-only configure of the sources
# needs none of them either. Each example runs on emulated devices with its
# output checked, the meter's also with its voltage refused. Run by ctest;
# usage: check-installed-library.sh BUILD_DIR
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

# The headers define no macro but their include guards, the export mark
# (KORVANE_API) and the version
# macros (KORVANE_VERSION_*): the macros of
# korvane.h and of the system headers it uses, less those of the system
# headers alone.
system_headers=$(grep -h '^#include <' "$include"/*.h | sort -u)
macros_of() { printf '%s\n' "$@" | g++ -std=c++17 -dM -E -x c++ -I"$work/prefix/include" - | sort; }
extra=$(comm -13 <(macros_of "$system_headers") <(macros_of "$system_headers" '#include <korvane/korvane.h>') |
  grep -v -E '^#define KORVANE_([A-Z0-9_]+_H $|VERSION_[A-Z]+ |API )' || true)
[ -z "$extra" ] || { echo "macros of the public headers: $extra" >&2; exit 1; }

# Every symbol the library exports is the namespace's, or belongs to an
# instantiation of the standard library's templates (mangled names: entity,
# its typeinfo, name or vtable, a local static, in korvane or std), but the
# C entry points, whose names carry the korvane_ prefix instead.
library=$(find "$work/prefix" -name 'libkorvane.so.*.*' | head -n 1)
stray=$(nm -D --defined-only "$library" | awk '{print $3}' |
  grep -v -E '^(_Z(T[ISV]|GV)?Z?N?K?(7korvane|St|S[a-z])|korvane_[a-z_]+$)' | c++filt || true)
[ -z "$stray" ] || { echo "symbols outside namespace korvane: $stray" >&2; exit 1; }

examples="read_meter hub_ports board_tour"
# Code that defines these before it includes the library (Arduino-style
# code, GPIO libraries) builds: the headers use none of them as a name.
level_macros="-DHIGH=1 -DLOW=0 -DINPUT=0 -DOUTPUT=1"
build_log() { "$@" >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }; }
build_log cmake -S "$root/examples/cpp" -B "$work/cmake-build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_FLAGS="$level_macros -Werror"
build_log cmake --build "$work/cmake-build"

pc_dir=$(dirname "$(find "$work/prefix" -name korvane.pc)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs korvane)
libdir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir korvane)
mkdir "$work/pc-build"
for example in $examples; do
  # shellcheck disable=SC2086
  g++ -std=c++17 -Wall -Wextra -Werror $level_macros "$root/examples/cpp/$example.cpp" \
    -o "$work/pc-build/$example" $flags -Wl,-rpath,"$libdir"
done

# The version compiled in (the header's macros) and the one run with
# (korvane::version()) are the version the package files declare.
cat > "$work/version.cpp" <<'CPP'
#include <cstdio>
#include <korvane/version.h>
int main() {
    std::printf("%s %d.%d.%d\n", korvane::version(), KORVANE_VERSION_MAJOR,
                KORVANE_VERSION_MINOR, KORVANE_VERSION_PATCH);
}
CPP
# shellcheck disable=SC2086
g++ -std=c++17 "$work/version.cpp" -o "$work/version" $flags -Wl,-rpath,"$libdir"
pc_version=$(PKG_CONFIG_PATH=$pc_dir pkg-config --modversion korvane)
if [ "$("$work/version")" != "$pc_version $pc_version" ]; then
  echo "version.h says $("$work/version"), korvane.pc says $pc_version" >&2
  exit 1
fi

# The library's sources as a subdirectory of the examples' project, and the
# library-only build of the docs: both configure with SWIG, pybind11, Python
# and GoogleTest out of reach, and none of them is looked for at all.
no_extras=(-DCMAKE_DISABLE_FIND_PACKAGE_SWIG=ON -DCMAKE_DISABLE_FIND_PACKAGE_pybind11=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)
looked_for_extras() { grep -E '^(KORVANE_SWIG|pybind11_DIR|Python3_EXECUTABLE|GTest_DIR)[:=]' "$1/CMakeCache.txt"; }
build_log cmake -S "$root/examples/cpp" -B "$work/subdir-build" -G Ninja "${no_extras[@]}" \
  -DKORVANE_SOURCE_DIR="$root" -DCMAKE_CXX_FLAGS="$level_macros"
build_log cmake --build "$work/subdir-build"
build_log cmake -S "$root" -B "$work/lib-build" -G Ninja "${no_extras[@]}" \
  -DKORVANE_PYTHON=OFF -DKORVANE_TESTS=OFF
for tree in subdir-build lib-build; do
  if looked_for_extras "$work/$tree" >&2; then
    echo "$tree looked for the tools of the Python modules or the tests" >&2
    exit 1
  fi
done

# expect WHAT STATUS OUTPUT COMMAND...: the command ends with that exit
# status and prints exactly that on standard output (its standard error is
# left in $work/stderr).
expect() {
  local what=$1 status=$2 output=$3 got rc=0
  shift 3
  got=$(timeout 120 "$@" 2>"$work/stderr") || rc=$?
  if [ "$rc" != "$status" ] || [ "$got" != "$output" ]; then
    printf '%s: exit status %s (expected %s), output:\n%s\n' "$what" "$rc" "$status" "$got" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
}
declare -A device output
device[read_meter]=DMM:DM-0042
output[read_meter]=$'DMM DM-0042, firmware 1.0.0\nvoltage: 5.0000 V\ncurrent: 0.2500 A
calibration offsets: low current -2, high current 3, low voltage 0, high voltage 1'
device[hub_ports]="Brondel HUB:BH-0042"
output[hub_ports]=$'Brondel HUB BH-0042\nport mask: 0x00000000\nports 1-4 on\nport mask: 0x0000000f
port 3 off\nport mask: 0x0000000b\nport 3 on\nport mask: 0x0000000f'
device[board_tour]=Vanta:VT-0042
output[board_tour]=$'Vanta VT-0042, firmware 1.0.0\npin 5: output, level 1\npin 6: input, pull-up, level 1
levels: 0x00000060\nADC channel 3: 1600\nI2C 0x40 register 0x05: 0xabcd'

# Each program of each route on its emulated device: the installed ones under
# the installed launcher and with the emulated library chosen as the backend
# by the environment (found beside the installed library, nothing
# preloaded); the subdirectory's under the launcher of its own build tree.
for example in $examples; do
  serial=${device[$example]##*:}
  for program in "$work/cmake-build/$example" "$work/pc-build/$example"; do
    expect "$program (launcher)" 0 "${output[$example]}" env -u KORVANE_EMU_LIB \
      "$work/prefix/bin/korvane-emu" --device "${device[$example]}" -- "$program" "$serial"
    expect "$program (backend)" 0 "${output[$example]}" env -u KORVANE_EMU_LIB -u LD_PRELOAD \
      KORVANE_BACKEND=emulator KORVANE_EMU_DEVICES="${device[$example]}" "$program" "$serial"
    # Linked against the installed library, not the build tree's.
    [[ $(ldd "$program") == *"$work/prefix"* ]] || { echo "$program does not use the installed library" >&2; exit 1; }
  done
  program=$work/subdir-build/$example
  expect "$program" 0 "${output[$example]}" env -u KORVANE_EMU_LIB \
    "$work/subdir-build/korvane/emulator/korvane-emu" --device "${device[$example]}" -- "$program" "$serial"
done

# Faults: a meter whose voltage attribute is gone (a state file can say so)
# refuses that reading; the program says so, reads the rest and ends with 1.
# A hub that is not attached ends the program with 2.
cat > "$work/refusing.json" <<'JSON'
{"format": "korvane-emu-state", "version": 1,
 "devices": [{"model": "DMM", "serial": "DM-0042", "removed": ["0x8101"]}]}
JSON
expect "read_meter, voltage refused" 1 "${output[read_meter]/voltage: 5.0000 V/voltage: failed, the device refused (return code 0)}" \
  env -u KORVANE_EMU_LIB "$work/prefix/bin/korvane-emu" --state "$work/refusing.json" -- "$work/cmake-build/read_meter" DM-0042
expect "hub_ports, no hub" 2 "" env -u KORVANE_EMU_LIB "$work/prefix/bin/korvane-emu" --no-devices -- "$work/cmake-build/hub_ports"
[ "$(cat "$work/stderr")" = "no Brondel HUB attached" ] || { echo "hub_ports, no hub: $(cat "$work/stderr")" >&2; exit 1; }
echo "installed library, subdirectory and library-only builds, and the examples on the emulator work"
