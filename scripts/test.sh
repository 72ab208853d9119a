#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs every test:
# the C++ and Python tests of the normal build, a short run of each fuzz
# target, and the C++ tests again under
# AddressSanitizer+UndefinedBehaviorSanitizer and ThreadSanitizer, and
# cross-built for Windows under Wine; then the manual (Sphinx, warnings as
# errors) and the Debian packages' round trip (build, lintian, install, use,
# purge).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh" tests
# Tests on, also in a build tree the demo configured without them.
"$root/scripts/build.sh" -DKORVANE_TESTS=ON
(
  cd "${KORVANE_BUILD_DIR:-$root/build}"
  ctest --output-on-failure --timeout 1200
)
"$root/scripts/fuzz.sh"
"$root/scripts/sanitizers.sh"
"$root/scripts/windows.sh"
"$root/scripts/build-docs.sh"
"$root/scripts/check-debian-packages.sh"
