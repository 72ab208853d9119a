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
exec /usr/bin/python3 "$root/bench/bench.py" "$@"
