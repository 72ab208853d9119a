#!/usr/bin/env bash
# The receive loop's poll rate on Linux next to the Windows build under Wine:
# the lines the poll-rate tests print (tests/cpp/windows_poll_rate_test.cpp),
# from the Linux build ($KORVANE_BUILD_DIR, default build/) and the Windows
# cross-build ($KORVANE_WINDOWS_BUILD_DIR, default build-windows/, made by
# scripts/windows.sh). Figures under Wine are indicative only: Wine's sleeps
# do not follow Windows' timer tick.
#   bench/poll_rate.sh [runs]     (default 3 runs of each)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux=${KORVANE_BUILD_DIR:-$root/build}
windows=${KORVANE_WINDOWS_BUILD_DIR:-$root/build-windows}
runs=${1:-3}
filter='PollTimer.*:ReceiveLoopRate.*'

cmake --build "$linux" --target korvane_tests >/dev/null
cmake --build "$windows" --target korvane_tests >/dev/null
wine=$(command -v wine || echo /usr/lib/wine/wine64)
export WINEPREFIX=$windows/wine-prefix WINEDEBUG=-all

for ((i = 1; i <= runs; i++)); do
  echo "Linux, run $i:"
  timeout 120 "$linux/tests/korvane_tests" --gtest_filter="$filter" | grep -E '^(poll|receive)' | sed 's/^/  /'
  echo "Windows under Wine, run $i:"
  (cd "$windows/bin" && timeout 120 "$wine" ./korvane_tests.exe --gtest_filter="$filter") |
    grep -E '^(poll|receive)' | sed 's/^/  /'
done
