#!/usr/bin/env bash
# Builds the C++ tests twice more, under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and runs them; then
# builds the Python module and the emulated HID library with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs the Python tests
# against them. Any sanitizer report fails the run.
#
#   scripts/sanitizers.sh              # all three
#   scripts/sanitizers.sh address      # one of them (address, thread, python)
#
# Build trees: build-asan, build-tsan and build-asan-python (or
# $KORVANE_ASAN_DIR, $KORVANE_TSAN_DIR, $KORVANE_ASAN_PYTHON_DIR). The soak test runs a shorter loop here
# ($KORVANE_SOAK_TRANSACTIONS, default 20000): the full length runs in the
# normal build, and the sanitizers find a fault in the first thousand
# transactions as well as in the hundred-thousandth.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(address thread python)

# The interpreter is not instrumented, so the sanitizer runtime must be
# loaded before anything else: it is preloaded, then the C++ runtime (which
# the runtime's interceptors need to find first), then the emulated HID
# library. Leak detection is off: the interpreter keeps its own memory until
# exit on purpose.
python_under_asan() {
  local build=$1
  echo "== python: building $build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DPython3_EXECUTABLE=/usr/bin/python3 -DKORVANE_TESTS=OFF -DKORVANE_SANITIZE=address >/dev/null
  cmake --build "$build" -j2 --target _korvane pykorvane_core korvane_emu
  echo "== python: running the Python tests against the sanitized module"
  local emu=$build/emulator/libkorvane_emu.so
  (
    cd "$build"
    export LD_PRELOAD="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libstdc++.so):$emu"
    export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:exitcode=66:allocator_may_return_null=1"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=66"
    export PYTHONPATH="$build/korvane:$build/pykorvane:$root/emulator/python"
    export KORVANE_EMU_LIB=$emu KORVANE_BUILD_DIR=$build KORVANE_SOURCE_DIR=$root
    # Bounded like the ctest entries: a hang fails the run instead of holding it.
    timeout -k 10 3600 /usr/bin/python3 -m pytest -q -p no:cacheprovider "$root/tests/python"
  )
}

export KORVANE_SOAK_TRANSACTIONS=${KORVANE_SOAK_TRANSACTIONS:-20000}
export KORVANE_LIFECYCLE_CYCLES=${KORVANE_LIFECYCLE_CYCLES:-100}

for kind in "${kinds[@]}"; do
  case "$kind" in
    address) build=${KORVANE_ASAN_DIR:-$root/build-asan} ;;
    thread) build=${KORVANE_TSAN_DIR:-$root/build-tsan} ;;
    python) python_under_asan "${KORVANE_ASAN_PYTHON_DIR:-$root/build-asan-python}"; continue ;;
    *) echo "usage: $0 [address|thread|python]..." >&2; exit 2 ;;
  esac
  echo "== $kind sanitizer: building $build"
  # -O1 as the sanitizers advise; it also builds quicker than -O2.
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DKORVANE_PYTHON=OFF -DKORVANE_SANITIZE="$kind" >/dev/null
  cmake --build "$build" -j2
  echo "== $kind sanitizer: running the C++ tests"
  (
    cd "$build"
    # exitcode=66 makes a report fail the test even where the program would
    # otherwise exit 0 (a report from a thread that gtest does not watch).
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0:exitcode=66:strict_string_checks=1:detect_stack_use_after_return=1"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=66"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:exitcode=66"
    ctest --output-on-failure --timeout 900
  )
done
