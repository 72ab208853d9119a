"""Runs pytest on this folder's test files under umockdev-wrapper.

ctest calls it with one file; it exits with 77 (skipped) when umockdev, its
GObject introspection data or python3-gi is missing, and otherwise becomes
`umockdev-wrapper python3 -m pytest ...`.
"""
import os
import shutil
import sys

SKIPPED = 77


def missing() -> str:
    if not shutil.which("umockdev-wrapper"):
        return "umockdev-wrapper (package umockdev)"
    try:
        import gi
    except ImportError:
        return "python3-gi"
    try:
        gi.require_version("UMockdev", "1.0")
    except ValueError:
        return "the UMockdev introspection data (package gir1.2-umockdev-1.0)"
    return ""


if __name__ == "__main__":
    lacking = missing()
    if lacking:
        print(f"skipped: {lacking} is not installed (scripts/bootstrap.sh installs it)")
        sys.exit(SKIPPED)
    wrapper = shutil.which("umockdev-wrapper")
    os.execv(wrapper, [wrapper, sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                       *sys.argv[1:]])
