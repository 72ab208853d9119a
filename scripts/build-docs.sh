#!/usr/bin/env bash
# Builds the reference manual with Sphinx, warnings as errors: the guide
# pages as they are (README.md, docs/*.md, emulator/README.md) and the
# references made from the code: pykorvane's docstrings (autodoc), the
# korvane module's type stub, the command-line tool's argument parser
# (sphinx-argparse) and the comments of the installed C++ headers (Doxygen
# XML through Breathe). The manual page korvane.1 comes from the same CLI
# page.
#
#   scripts/build-docs.sh [BUILD_DIR [OUT_DIR [BUILDER...]]]
#
# BUILD_DIR is a build tree with the Python modules (default build/, or
# $KORVANE_BUILD_DIR); OUT_DIR defaults to BUILD_DIR/docs; the builders are
# html and man by default: OUT_DIR/html/index.html, OUT_DIR/man/korvane.1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${KORVANE_BUILD_DIR:-$root/build}}" && pwd)
out=${2:-$build/docs}
builders=("${@:3}")
((${#builders[@]})) || builders=(html man)
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The headers exactly as the install rules pick them.
rm -rf "$out/prefix" "$out/doxygen" "$out/src" "$out/stub" "$out/doctrees"
timeout 120 cmake --install "$build" --prefix "$out/prefix" >/dev/null
headers=$out/prefix/include/korvane

# Doxygen reads the headers' plain // comments as documentation: a filter
# turns the whole-line ones into ///.
mkdir -p "$out/doxygen"
printf '#!/bin/sh\nexec sed "s|^\\\\([[:space:]]*\\\\)//\\\\([^/]\\\\)|\\\\1///\\\\2|" "$1"\n' > "$out/doxygen/filter.sh"
chmod +x "$out/doxygen/filter.sh"
timeout 300 doxygen - >"$out/doxygen/log.txt" 2>&1 <<DOXYGEN
PROJECT_NAME = Korvane
INPUT = $headers
STRIP_FROM_PATH = $out/prefix/include
STRIP_FROM_INC_PATH = $out/prefix/include
FILE_PATTERNS = *.h
INPUT_FILTER = $out/doxygen/filter.sh
OUTPUT_DIRECTORY = $out/doxygen
GENERATE_XML = YES
GENERATE_HTML = NO
GENERATE_LATEX = NO
EXTRACT_ALL = YES
EXTRACT_PRIVATE = NO
JAVADOC_AUTOBRIEF = YES
ENABLE_PREPROCESSING = YES
MACRO_EXPANSION = YES
EXPAND_ONLY_PREDEF = YES
PREDEFINED = KORVANE_API=
QUIET = YES
WARN_IF_UNDOCUMENTED = NO
DOXYGEN

# The staged source tree: the pages where they are in the repository, so
# that their links to each other hold, and the manual's own files.
src=$out/src
mkdir -p "$src/docs" "$src/emulator"
cp "$root/README.md" "$src/"
cp "$root"/docs/*.md "$src/docs/"
cp "$root/emulator/README.md" "$src/emulator/"
cp -r "$root/docs/manual/index.rst" "$root/docs/manual/reference" "$src/"
# Everything public is in namespace korvane, declared across the headers:
# the page lists the installed headers and documents the namespace once.
{
  printf 'Installed headers: '
  for header in "$headers"/*.h; do printf '``%s`` ' "$(basename "$header")"; done
  printf '\n\n.. doxygennamespace:: korvane\n   :members:\n   :undoc-members:\n\n'
} > "$src/reference/headers.rst.inc"

# The korvane module as its stub describes it, importable under its own
# name ahead of the built module (annotations left unevaluated, as in a
# stub; typing.type_check_only exists for type checkers only).
mkdir -p "$out/stub"
{
  echo "from __future__ import annotations"
  echo "import typing; typing.type_check_only = getattr(typing, 'type_check_only', lambda cls: cls)"
  cat "$root/korvane/korvane.pyi"
} > "$out/stub/korvane.py"

export KORVANE_SOURCE_DIR=$root KORVANE_DOXYGEN_XML=$out/doxygen/xml
export PYTHONPATH=$out/stub:$build/korvane:$build/pykorvane${PYTHONPATH:+:$PYTHONPATH}
# A build without run paths (the Debian package's) finds libkorvane here.
export LD_LIBRARY_PATH=$build/src${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
for builder in "${builders[@]}"; do
  timeout 600 /usr/bin/python3 -P -m sphinx -W --keep-going -q -b "$builder" -c "$root/docs/manual" \
    -d "$out/doctrees" "$src" "$out/$builder"
done
[[ " ${builders[*]} " != *" man "* ]] || [ -s "$out/man/korvane.1" ] || { echo "no korvane.1 built" >&2; exit 1; }
echo "manual: $out/${builders[0]}"
