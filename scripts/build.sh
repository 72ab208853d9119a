#!/usr/bin/env bash
# Configures and builds the project into build/ (or $KORVANE_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVANE_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DPython3_EXECUTABLE=/usr/bin/python3 "$@" >/dev/null
cmake --build "$build"
