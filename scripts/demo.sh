#!/usr/bin/env bash
# Sets everything up, builds, and runs the demo (examples/demo.py).
#
#   scripts/demo.sh                     real devices if any is attached, else emulated ones
#   KORVANE_HARDWARE=1 scripts/demo.sh  real devices only
#   KORVANE_HARDWARE=0 scripts/demo.sh  emulated devices only (one of each model)
#
# The build goes to build/ (or $KORVANE_BUILD_DIR); the demo's exit status is
# this script's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVANE_BUILD_DIR:-$root/build}
python=/usr/bin/python3

"$root/scripts/bootstrap.sh"
# The demo needs the library and the module, not the tests (nor GoogleTest).
KORVANE_BUILD_DIR=$build "$root/scripts/build.sh" -DKORVANE_TESTS=OFF

export PYTHONPATH=$build/korvane${PYTHONPATH:+:$PYTHONPATH}
demo=$root/examples/demo.py

# Looks for real devices only: an emulator preloaded in this shell would answer too.
real_devices_attached() {
  env -u LD_PRELOAD -u KORVANE_EMU_DEVICES "$python" -c 'import sys, korvane; sys.exit(0 if korvane.KorDeviceManager().getDeviceNum() else 1)'
}

hardware=${KORVANE_HARDWARE:-}
if [[ -z $hardware ]]; then
  if real_devices_attached; then hardware=1; else hardware=0; fi
fi

if [[ $hardware == 1 ]]; then
  echo "Running the demo on the attached devices."
  exec "$python" "$demo"
fi
echo "No real device requested or attached: running the demo on emulated devices."
exec "$build/emulator/korvane-emu" -- "$python" "$demo"
