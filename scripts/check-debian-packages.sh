#!/usr/bin/env bash
# The Debian packages' round trip: builds them (dpkg-buildpackage -b) in a
# temporary copy of the tree, checks them with lintian (errors fail, the
# rest is printed), installs them with apt, uses what they installed (the
# korvane command, the emulator launcher, both Python modules from a folder
# outside the tree, the C++ example against the development package on an
# emulated meter) and purges them again. Needs root (apt). With
# KORVANE_DEB_OUT=DIR the packages and the build log are kept in DIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
packages=(libkorvane0 libkorvane-dev python3-korvane korvane-tools korvane-emulator)
apt_opts=(-y -q -o DPkg::Lock::Timeout=300)

if [ "$(id -u)" -ne 0 ]; then
  echo "check-debian-packages.sh installs packages with apt: run it as root" >&2
  exit 1
fi
installed() {
  dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null | grep " installed$" || true
}
if [ -n "$(installed)" ]; then
  echo "already installed, not touched: $(installed)" >&2
  exit 1
fi

work=$(mktemp -d /tmp/korvane-deb.XXXXXX)
cleanup() {
  if [ -n "$(installed)" ]; then
    DEBIAN_FRONTEND=noninteractive timeout 600 apt-get purge "${apt_opts[@]}" "${packages[@]}" >"$work/purge.log" 2>&1 ||
      { echo "purge failed:" >&2; cat "$work/purge.log" >&2; }
  fi
  rm -rf "$work"
}
trap cleanup EXIT
step() { echo "== $* ($(date +%T))"; }

step "copying the tree"
mkdir "$work/src" "$work/outside"
(
  cd "$root"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -
) | tar -C "$work/src" -xf -

step "building the packages"
if ! (cd "$work/src" && timeout 3600 dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1; then
  tail -60 "$work/build.log" >&2
  exit 1
fi
mapfile -t debs < <(ls "$work"/*.deb)
[ -z "${KORVANE_DEB_OUT:-}" ] || { mkdir -p "$KORVANE_DEB_OUT" && cp "${debs[@]}" "$work/build.log" "$KORVANE_DEB_OUT/"; }
for p in "${packages[@]}"; do
  ls "$work/${p}_"*.deb >/dev/null || { echo "not built: $p" >&2; exit 1; }
done

step "lintian"
timeout 900 lintian --fail-on error --tag-display-limit 0 "$work"/*.changes | sort | uniq -c || {
  echo "lintian reports errors" >&2
  exit 1
}

step "installing"
DEBIAN_FRONTEND=noninteractive timeout 600 apt-get install "${apt_opts[@]}" "${debs[@]}" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; exit 1; }

step "using the installed packages"
cd "$work/outside"
version=$(sed -n 's/^ *project( *korvane  *VERSION  *\([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$(timeout 60 korvane --version)" = "korvane $version" ] || { echo "korvane --version: $(korvane --version)" >&2; exit 1; }
listing=$(timeout 60 korvane-emu -- korvane list)
echo "$listing"
for serial in VT-0001 BH-0001 DM-0001; do
  [[ $listing == *"$serial"* ]] || { echo "korvane list shows no $serial" >&2; exit 1; }
done
timeout 60 /usr/bin/python3 -P - <<'PY'
import importlib.metadata
import pykorvane, korvane, korvane_emu
from pykorvane.emulator import find_library
for module in (pykorvane, korvane, korvane_emu):
    assert module.__file__.startswith("/usr/lib/python3/dist-packages/"), module.__file__
assert find_library().endswith("/libkorvane_emu.so"), find_library()
plugins = {e.name: e.value for e in importlib.metadata.entry_points(group="pytest11")}
assert plugins.get("korvane") == "pykorvane.pytest_plugin", plugins
print("python:", pykorvane.__version__, korvane.__name__, "pytest plugin", plugins["korvane"])
PY
[ -f /usr/lib/udev/rules.d/70-korvane.rules ] || { echo "no udev rule in /usr/lib/udev/rules.d" >&2; exit 1; }
[ -f /usr/share/man/man1/korvane.1.gz ] || { echo "no manual page korvane.1" >&2; exit 1; }

timeout 300 cmake -S "$root/examples/cpp" -B "$work/example" -G Ninja >/dev/null
timeout 600 cmake --build "$work/example" >/dev/null
out=$(timeout 60 korvane-emu --device DMM:DM-0042 -- "$work/example/read_meter" DM-0042)
expected=$'DMM DM-0042, firmware 1.0.0\nvoltage: 5.0000 V\ncurrent: 0.2500 A\ncalibration offsets: low current -2, high current 3, low voltage 0, high voltage 1'
[ "$out" = "$expected" ] || { echo "read_meter printed:" >&2; echo "$out" >&2; exit 1; }
ldd "$work/example/read_meter" | grep -q "libkorvane.so.0 => /\(usr/\)\{0,1\}lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/" ||
  { echo "read_meter does not use the installed libkorvane" >&2; exit 1; }
echo "C++ example on the installed development package: ${out%%$'\n'*}"

step "purging"
cd /
DEBIAN_FRONTEND=noninteractive timeout 600 apt-get purge "${apt_opts[@]}" "${packages[@]}" >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log" >&2; exit 1; }
[ -z "$(installed)" ] || { echo "still installed: $(installed)" >&2; exit 1; }
echo "Debian packages: built, lintian-clean of errors, installed, used and purged"
