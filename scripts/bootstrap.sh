#!/usr/bin/env bash
# Installs the Debian packages the project needs, where they are missing.
# As root it runs apt-get; otherwise it prints the exact command and stops.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config swig patch libhidapi-dev python3-dev
          python3-pytest python3-hypothesis googletest libgtest-dev clang libclang-rt-14-dev
          python3-setuptools python3-wheel python3-venv python3-pip
          pybind11-dev python3-mypy  # the pykorvane binding; the stub checks of pykorvane and korvane
          python3-matplotlib  # the meter log's optional PNG plot (and its test)
          g++-mingw-w64-x86-64 wine64)  # the Windows cross-build of the C++ tests, run under Wine

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
