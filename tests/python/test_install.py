"""Packaging: pip builds the module through CMake and installs the command.

A fresh virtual environment (with the system's site packages, for Debian's
setuptools and wheel) gets `pip install --no-build-isolation --no-index`
of a copy of the source tree; then `korvane list` runs from another folder
against the emulated devices. This is a full build of the module, so it runs
once per test run; KORVANE_SKIP_INSTALL_TEST=1 leaves it out.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from device_helpers import SOURCE_DIR, preload

BUILD_TIMEOUT_S = 1500
RUN_TIMEOUT_S = 60


def _missing_tools():
    probe = subprocess.run([sys.executable, "-c", "import setuptools, wheel, venv, pip"],
                           capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    if probe.returncode:
        return probe.stderr.strip().splitlines()[-1]
    return next((f"{tool} is not installed" for tool in ("cmake", "swig") if not shutil.which(tool)), None)


def _clean_env():
    """The environment without the build tree's module path or the preload."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "LD_PRELOAD", "KORVANE_EMU_DEVICES", "PIP_INDEX_URL")}
    env["PIP_NO_INPUT"] = "1"
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    return env


def _copy_sources(target):
    """The source tree without build trees, caches and version control."""
    anywhere = shutil.ignore_patterns(".git", "__pycache__", "*.egg-info", ".pytest_cache")

    def ignored(folder, names):
        skip = set(anywhere(folder, names))
        if Path(folder) == SOURCE_DIR:
            skip.update(n for n in names if n.startswith("build") and (SOURCE_DIR / n).is_dir())
        return skip
    shutil.copytree(SOURCE_DIR, target, ignore=ignored)


@pytest.mark.skipif("KORVANE_EMU_LIB" not in os.environ,
                    reason="needs the emulated HID library (KORVANE_EMU_LIB), as the test command sets it")
@pytest.mark.skipif(os.environ.get("KORVANE_SKIP_INSTALL_TEST") == "1",
                    reason="KORVANE_SKIP_INSTALL_TEST=1")
def test_pip_install_into_a_fresh_venv(tmp_path):
    missing = _missing_tools()
    if missing:
        pytest.skip(f"cannot build the package here: {missing} (run scripts/bootstrap.sh)")
    sources, venv, elsewhere = tmp_path / "src", tmp_path / "venv", tmp_path / "elsewhere"
    _copy_sources(sources)
    elsewhere.mkdir()
    env = _clean_env()

    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip", str(venv)],
                   check=True, env=env, timeout=RUN_TIMEOUT_S)
    python = venv / "bin" / "python"
    install = subprocess.run(
        [str(python), "-m", "pip", "install", "--no-build-isolation", "--no-index", str(sources)],
        env=env, cwd=elsewhere, capture_output=True, text=True, timeout=BUILD_TIMEOUT_S)
    assert install.returncode == 0, install.stdout[-3000:] + install.stderr[-3000:]

    located = subprocess.run(
        [str(python), "-c", "import korvane, _korvane, pykorvane, pykorvane._core; "
                            "print(korvane.__file__); print(_korvane.__file__); "
                            "print(pykorvane.__file__); print(pykorvane._core.__file__)"],
        env=env, cwd=elsewhere, capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    assert located.returncode == 0, located.stderr
    assert all(Path(p).resolve().is_relative_to(venv.resolve()) for p in located.stdout.split())

    # One version everywhere: CMake's project() version, in the package's
    # metadata (setup.py reads it) and in the binding (pykorvane.__version__).
    versions = subprocess.run(
        [str(python), "-c", "import importlib.metadata, pykorvane; "
                            "print(importlib.metadata.version('korvane'), pykorvane.__version__)"],
        env=env, cwd=elsewhere, capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    declared = re.search(r"project\(korvane\s+VERSION\s+([0-9.]+)",
                         (SOURCE_DIR / "CMakeLists.txt").read_text()).group(1)
    assert (versions.returncode, versions.stdout.split()) == (0, [declared, declared]), versions.stderr

    run_env = dict(env, LD_PRELOAD=preload(os.environ["KORVANE_EMU_LIB"]),
                   KORVANE_EMU_DEVICES="Vanta:VT-0001;DMM:DM-0001")
    listed = subprocess.run([str(venv / "bin" / "korvane"), "list"], env=run_env, cwd=elsewhere,
                            capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    assert (listed.returncode, listed.stderr) == (0, "")
    assert re.search(r"^Vanta\s+VT-0001\s+\S+$", listed.stdout, re.M)
    assert re.search(r"^DMM\s+DM-0001\s+\S+$", listed.stdout, re.M)

    # The context managers are part of the installed proxy module.
    with_block = subprocess.run(
        [str(python), "-c", "import korvane\nwith korvane.Dmm() as m:\n"
                            "    assert m.open() is False\nassert not m.isConnected()"],
        env=run_env, cwd=elsewhere, capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    assert with_block.returncode == 0, with_block.stderr

    # A type checker run for the venv's interpreter finds the proxy module's stub.
    typed = subprocess.run(
        [sys.executable, "-m", "mypy", "--python-executable", str(python), "--cache-dir", os.devnull,
         "--strict", str(SOURCE_DIR / "examples" / "typed_use.py")],
        env=env, cwd=elsewhere, capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    assert typed.returncode == 0, typed.stdout + typed.stderr

    # The Pythonic package works from the install too.
    listed = subprocess.run(
        [str(python), "-c", "import pykorvane\nwith pykorvane.Dmm() as m:\n    print(m.serial, m.voltage)"],
        env=run_env, cwd=elsewhere, capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    assert (listed.returncode, listed.stderr, listed.stdout) == (0, "", "DM-0001 5.0\n")


def test_udev_rule_matches_the_devices_hidraw_nodes():
    rules = [line for line in (SOURCE_DIR / "scripts" / "70-korvane.rules").read_text().splitlines()
             if line.strip() and not line.lstrip().startswith("#")]
    assert len(rules) == 1
    keys = dict(re.findall(r'(\w+(?:\{\w+\})?)\+?=+"([^"]*)"', rules[0]))
    # sysfs spells the ids in lower case and udev compares them exactly.
    assert keys == {"SUBSYSTEM": "hidraw", "ATTRS{idVendor}": "04d8", "ATTRS{idProduct}": "ecd0",
                    "MODE": "0660", "GROUP": "plugdev", "TAG": "uaccess"}
