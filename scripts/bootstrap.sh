#!/usr/bin/env bash
# Installs the Debian packages the project needs, where they are missing.
# As root it runs apt-get; otherwise it prints the exact command and stops.
#
#   scripts/bootstrap.sh         what building the library and both Python
#                                faces, running the demo and installing the
#                                package into a virtual environment need
#   scripts/bootstrap.sh tests   that and what the whole test suite needs
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config swig patch libhidapi-dev python3-dev
          libudev-dev  # the hotplug monitor's wake on udev events (Linux)
          pybind11-dev  # the pykorvane binding
          nlohmann-json3-dev  # the emulator's state file (JSON, header-only)
          python3-setuptools python3-wheel python3-venv python3-pip)  # pip install into a venv
if [ "${1:-}" = tests ]; then
  packages+=(python3-pytest python3-hypothesis googletest libgtest-dev
             clang libclang-rt-14-dev  # the fuzz targets and the sanitizer runs
             clang-format  # the style check
             python3-mypy  # the stub checks of pykorvane and korvane
             python3-matplotlib  # the meter log's optional PNG plot (and its test)
             g++-mingw-w64-x86-64 wine64  # the Windows cross-build of the C++ tests, run under Wine
             umockdev gir1.2-umockdev-1.0 python3-gi  # the tests on emulated hidraw nodes
             debhelper dh-python lintian build-essential fakeroot  # the Debian packages' round trip
             python3-sphinx python3-myst-parser python3-sphinx-argparse furo  # the manual
             doxygen python3-breathe)  # the manual's C++ reference
elif [ -n "${1:-}" ]; then
  echo "usage: $0 [tests]" >&2
  exit 2
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

cmd="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run: sudo apt-get update && sudo $cmd" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
$cmd >/dev/null
