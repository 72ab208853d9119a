#!/usr/bin/env bash
# Installs the library from a build tree into a temporary prefix, builds the
# C++ example against it twice (CMake package, pkg-config) and runs both on
# an emulated meter. Run by ctest; usage: check-installed-library.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for header in Dmm.h KorCore.h AttributeStatus.h Products.h KorvaneVersion.h korvane_emu.h; do
  [ -f "$work/prefix/include/korvane/$header" ] || { echo "not installed: $header" >&2; exit 1; }
done

cmake -S "$root/examples/cpp" -B "$work/cmake-build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null

pc_dir=$(dirname "$(find "$work/prefix" -name korvane.pc)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs korvane)
libdir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir korvane)
# shellcheck disable=SC2086
g++ -std=c++17 "$root/examples/cpp/read_meter.cpp" -o "$work/read_meter_pc" $flags -Wl,-rpath,"$libdir"

# The installed version header says the version the package files declare.
cat > "$work/version.cpp" <<'EOF'
#include <cstdio>
#include <korvane/KorvaneVersion.h>
int main() {
    std::printf("%s %d.%d.%d\n", KORVANE_VERSION_STRING, KORVANE_VERSION_MAJOR,
                KORVANE_VERSION_MINOR, KORVANE_VERSION_PATCH);
}
EOF
# shellcheck disable=SC2086
g++ -std=c++17 "$work/version.cpp" -o "$work/version" $flags
pc_version=$(PKG_CONFIG_PATH=$pc_dir pkg-config --modversion korvane)
if [ "$("$work/version")" != "$pc_version $pc_version" ]; then
  echo "KorvaneVersion.h says $("$work/version"), korvane.pc says $pc_version" >&2
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
