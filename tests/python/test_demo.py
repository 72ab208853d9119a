"""The demo: run as users run it (a separate process with emulated devices
attached) and in this process, where faults can be injected."""
import importlib.util
import os
import subprocess
import sys

import pytest

from device_helpers import BUILD_DIR, SOURCE_DIR

DEMO = SOURCE_DIR / "examples" / "demo.py"
LAUNCHER = BUILD_DIR / "emulator" / "korvane-emu"
TIMEOUT_S = 60


def run_demo(devices=None, launcher_args=None):
    """Runs the demo in a child process; devices go to the emulated library
    directly, launcher_args through the launcher."""
    env = dict(os.environ)
    if launcher_args is None:
        env["KORVANE_EMU_DEVICES"] = devices
        command = [sys.executable, str(DEMO)]
    else:
        env.pop("KORVANE_EMU_DEVICES", None)
        command = [str(LAUNCHER)] + launcher_args + ["--", sys.executable, str(DEMO)]
    return subprocess.run(command, env=env, capture_output=True, text=True, timeout=TIMEOUT_S)


@pytest.fixture(scope="module")
def default_run():
    if not LAUNCHER.exists():
        pytest.skip("launcher not built at %s" % LAUNCHER)
    return run_demo(launcher_args=[])


def test_demo_on_one_device_of_each_model(default_run):
    out = default_run.stdout
    assert default_run.returncode == 0, default_run.stdout + default_run.stderr
    assert "FAILED" not in out
    for serial in ("VT-0001", "BH-0001", "DM-0001"):
        assert serial in out
    for header in ("Vanta:", "Brondel HUB:", "DMM:"):
        assert header in out.splitlines()
    assert "Korvane Vanta rev A1, serial VT-0001, firmware 1.0.0" in out


def test_demo_prints_real_values(default_run):
    out = default_run.stdout
    # Values the emulated devices serve: the meter's die id and readings,
    # the board's ADC channels, the pin driven high and read back.
    assert "die id read: 0x2260" in out
    assert "voltage read: 5.0000" in out
    assert "current read: 0.2500" in out
    assert "ADC channels 0-7 read: 100 600 1100 1600 2100 2600 3100 3600" in out
    assert "level mask read: 0x00000020" in out
    assert "LOW_CURRENT_OFFSET: -2" in out and "HIGH_VOLTAGE_OFFSET: 1" in out
    assert "0: 0x4127" in out and "11: 0x0" in out
    assert "port mask written 0xfffffffb" in out
    assert "port mask read back from the hub: 0xffffffff" in out


def test_demo_with_only_some_models(tmp_path):
    result = run_demo(devices="Vanta:VT-0002;Vanta:VT-0003")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "VT-0002" in result.stdout and "VT-0003" in result.stdout
    assert "DMM:" not in result.stdout.splitlines()


def test_demo_without_devices():
    result = run_demo(devices="")
    assert result.returncode == 2
    assert "No supported device is attached" in result.stdout


def load_demo():
    module_spec = importlib.util.spec_from_file_location("korvane_demo", DEMO)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


@pytest.mark.parametrize("fault, message", [
    (lambda board: board.fail_attribute(0x1303), "FAILED: ADC channel(s) 3 read"),
    (lambda board: board.fail_attribute(0x1200), "FAILED: pin 5 set as output"),
    (lambda board: board.fail_attribute(0x1400), "FAILED: I2C target set to 0x40"),
    (lambda board: board.refuse_open(), "FAILED: opened"),
])
def test_demo_reports_failures_in_words(emu, capsys, fault, message):
    fault(emu.add("Vanta", serial="VT-0001"))
    assert load_demo().main() == 1
    out = capsys.readouterr().out
    assert message in out
    assert "1 step(s) failed." in out
