#!/usr/bin/env bash
# Builds the module and runs the benchmark against emulated devices.
#
#   scripts/bench.sh                  # about half a minute
#   scripts/bench.sh --seconds 20     # a longer getVoltage loop
#
# Uses build/ (or $KORVANE_BUILD_DIR), like scripts/build.sh. The emulated HID
# library is preloaded in front of the system's hidapi, as in the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVANE_BUILD_DIR:-$root/build}
KORVANE_BUILD_DIR=$build "$root/scripts/build.sh" >/dev/null
emu_lib=$build/emulator/libkorvane_emu.so
[ -f "$emu_lib" ] || { echo "bench: $emu_lib not built" >&2; exit 1; }
export LD_PRELOAD=$emu_lib KORVANE_EMU_LIB=$emu_lib
export PYTHONPATH=$build/korvane:$build/pykorvane:$root/emulator/python${PYTHONPATH:+:$PYTHONPATH}
/usr/bin/python3 "$root/bench/bench.py" "$@"
# The real Linux HID path, where umockdev is installed (the test tier).
if command -v umockdev-wrapper >/dev/null; then
  env -u LD_PRELOAD -u KORVANE_EMU_LIB KORVANE_FIRMWARE_LIB=$build/emulator/libkorvane_firmware.so \
    umockdev-wrapper /usr/bin/python3 "$root/bench/umockdev_bench.py"
fi
