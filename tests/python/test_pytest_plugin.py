"""The pytest plugin: the sample bench test run by pytest in a child
process, on emulated devices (with and without the emulated HID library
preloaded) and with --korvane-hardware on this machine, which has no device.
"""
import os
import subprocess
import sys

import pytest

from device_helpers import BUILD_DIR, SOURCE_DIR, preload

SAMPLE = SOURCE_DIR / "examples" / "bench_test_example.py"
PACKAGE_DIR = BUILD_DIR / "pykorvane"


def run_pytest(tmp_path, test_file, *args, preloaded):
    """pytest with the plugin on test_file in a child process; preloaded
    runs it as under korvane-emu, else with no emulated HID library."""
    if not (PACKAGE_DIR / "pykorvane" / "emulator" / "lib" / "libkorvane_emu.so").is_file():
        pytest.skip(f"no pykorvane package with the emulator in {PACKAGE_DIR}")
    library = os.environ.get("KORVANE_EMU_LIB", "")
    env = {k: v for k, v in os.environ.items() if not k.startswith("KORVANE_EMU")}
    env.update(PYTHONPATH=str(PACKAGE_DIR), LD_PRELOAD=preload(library) if preloaded else preload())
    if preloaded:
        env["KORVANE_EMU_LIB"] = library
    return subprocess.run(
        [sys.executable, "-m", "pytest", "-p", "pykorvane.pytest_plugin", "-p", "no:cacheprovider",
         "-rs", "--rootdir", str(tmp_path), str(test_file), *args],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120)


def run_sample(tmp_path, *args, preloaded):
    return run_pytest(tmp_path, SAMPLE, *args, preloaded=preloaded)


@pytest.mark.parametrize("preloaded", [False, True], ids=["plain", "under-korvane-emu"])
def test_sample_passes_on_emulated_devices(tmp_path, preloaded):
    result = run_sample(tmp_path, preloaded=preloaded)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "6 passed" in result.stdout


@pytest.mark.parametrize("args, code, outcome, why", [
    ((), 1, "5 errors", "no Vanta attached (--korvane-hardware; --korvane-missing=skip skips"),
    (("--korvane-missing=skip",), 0, "6 skipped", "no Vanta attached (--korvane-hardware)"),
    (("--korvane-dmm", "DM-9",), 1, "5 errors", "no DMM with serial number 'DM-9' attached"),
    (("--korvane-dmm", "/dev/hidraw9",), 1, "5 errors", "no DMM attached at /dev/hidraw9"),
])
def test_missing_hardware_is_an_error_unless_skipped(tmp_path, args, code, outcome, why):
    result = run_sample(tmp_path, "--korvane-hardware", *args, preloaded=False)
    assert result.returncode == code, result.stdout + result.stderr
    assert outcome in result.stdout and why in result.stdout
    assert "needs emulated devices (runs without --korvane-hardware)" in result.stdout


def test_hardware_option_refuses_a_preloaded_emulator(tmp_path):
    result = run_sample(tmp_path, "--korvane-hardware", preloaded=True)
    assert result.returncode == 4  # pytest's usage error
    assert "--korvane-hardware: the emulated HID library serves this process" in result.stderr


def test_failing_check_fails_and_fixtures_close_their_devices(tmp_path):
    """A real fault in a bench test shows as a failure, and every device the
    fixtures opened is closed again whatever the outcome (checked after the
    device fixtures' teardown, before the emulator's)."""
    bench = tmp_path / "test_bench.py"
    bench.write_text('''
import pytest

@pytest.fixture(autouse=True)
def all_closed_afterwards(korvane_emulator):
    yield
    assert korvane_emulator.open_handle_count() == 0, "a fixture left a device open"

@pytest.mark.parametrize("volts", [5.0, 4.2])
def test_rail(korvane_emulator, korvane_dmm, korvane_vanta, korvane_hub, volts):
    assert korvane_emulator.open_handle_count() == 3
    korvane_emulator.dmm.set_reading(0x8101, volts)
    assert 4.75 <= korvane_dmm.voltage <= 5.25
''')
    result = run_pytest(tmp_path, bench, preloaded=True)
    assert result.returncode == 1, result.stdout + result.stderr
    assert "1 failed, 1 passed in" in result.stdout
    assert "test_rail[4.2]" in result.stdout
