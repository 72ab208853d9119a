#!/usr/bin/env bash
# Builds the C++ tests twice more, under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and runs them. Any
# sanitizer report fails the run.
#
#   scripts/sanitizers.sh              # both
#   scripts/sanitizers.sh address      # one of them
#
# Build trees: build-asan and build-tsan (or $KORVANE_ASAN_DIR,
# $KORVANE_TSAN_DIR). The soak test runs a shorter loop here
# ($KORVANE_SOAK_TRANSACTIONS, default 20000): the full length runs in the
# normal build, and the sanitizers find a fault in the first thousand
# transactions as well as in the hundred-thousandth.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(address thread)

export KORVANE_SOAK_TRANSACTIONS=${KORVANE_SOAK_TRANSACTIONS:-20000}
export KORVANE_LIFECYCLE_CYCLES=${KORVANE_LIFECYCLE_CYCLES:-100}

for kind in "${kinds[@]}"; do
  case "$kind" in
    address) build=${KORVANE_ASAN_DIR:-$root/build-asan} ;;
    thread) build=${KORVANE_TSAN_DIR:-$root/build-tsan} ;;
    *) echo "usage: $0 [address|thread]..." >&2; exit 2 ;;
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
