"""The command-line tool as a separate process, as a shell runs it
(`python -m pykorvane`, the way the docs give for a build).

The emulated devices come from KORVANE_EMU_DEVICES (what the korvane-emu
launcher sets); every run and every wait has a time limit.
"""
import csv
import os
import pty
import selectors
import signal
import subprocess
import sys
from pathlib import Path

import pytest

from device_helpers import preload

SOURCE_DIR = Path(os.environ.get("KORVANE_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BUILD_DIR = Path(os.environ.get("KORVANE_BUILD_DIR", SOURCE_DIR / "build"))
DEFAULT_DEVICES = "Vanta:VT-0001;Brondel HUB:BH-0001;DMM:DM-0001"
TIMEOUT_S = 60
TOOL = [sys.executable, "-m", "pykorvane"]

pytestmark = pytest.mark.skipif(
    "KORVANE_EMU_LIB" not in os.environ,
    reason="needs the emulated HID library (KORVANE_EMU_LIB), as the test command sets it")


def environment(devices):
    env = dict(os.environ)
    env["KORVANE_EMU_DEVICES"] = devices
    return env


def cli(tmp_path, *argv, devices=DEFAULT_DEVICES, **options):
    return subprocess.run(TOOL + [str(a) for a in argv], env=environment(devices), cwd=tmp_path,
                          capture_output=True, text=True, timeout=TIMEOUT_S, **options)


def user_shell():
    """An environment as a user's shell has it: no module path, no preload
    but the sanitizer runtimes of a sanitizer run."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "LD_PRELOAD", "KORVANE_EMU_DEVICES", "KORVANE_EMU_LIB",
                        "KORVANE_EMU_STATE")}
    if preload():
        env["LD_PRELOAD"] = preload()
    return env


def launched(*argv, cwd, options=()):
    """The documented way to run the tool from a build under the emulator:
    build/emulator/korvane-emu -- env PYTHONPATH=build/pykorvane /usr/bin/python3 -m pykorvane ..."""
    return subprocess.run(
        [str(BUILD_DIR / "emulator" / "korvane-emu"), *options, "--", "env",
         f"PYTHONPATH={BUILD_DIR / 'pykorvane'}", sys.executable, "-m", "pykorvane", *map(str, argv)],
        env=user_shell(), cwd=cwd, capture_output=True, text=True, timeout=TIMEOUT_S)


def first_line(process):
    """The process's first line of output, waited for at most TIMEOUT_S."""
    with selectors.DefaultSelector() as waiting:
        waiting.register(process.stdout, selectors.EVENT_READ)
        assert waiting.select(TIMEOUT_S), "no output within the time limit"
    return process.stdout.readline()


def test_list(tmp_path):
    done = cli(tmp_path, "list")
    assert (done.returncode, done.stderr) == (0, "")
    lines = done.stdout.splitlines()
    assert lines[0].split() == ["PRODUCT", "SERIAL", "PATH"]
    # Columns: product (may hold a space), serial, path.
    assert sorted(" ".join(line.split()[:-1]) for line in lines[1:]) == [
        "Brondel HUB BH-0001", "DMM DM-0001", "Vanta VT-0001"]


def test_info_of_the_hub_and_version(tmp_path):
    done = cli(tmp_path, "info", "hub", "--serial", "BH-0001")
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.splitlines()[:5] == [
        "vendor:   Korvane", "product:  Brondel HUB", "revision: A1",
        "serial:   BH-0001", "firmware: 1.0.0"]
    assert cli(tmp_path, "--version").stdout.startswith("korvane ")


def test_device_not_attached(tmp_path):
    done = cli(tmp_path, "meter", "read", devices="Vanta:VT-0001")
    assert (done.returncode, done.stdout) == (1, "")
    assert done.stderr == "korvane: no DMM attached\n"


def test_bad_arguments(tmp_path):
    done = cli(tmp_path, "hub", "on", "0")
    assert (done.returncode, done.stdout) == (2, "")
    assert "ports are numbered 1 to 32" in done.stderr


def test_hub_switch_reports_the_new_status(tmp_path):
    done = cli(tmp_path, "hub", "on", "2-3", "--json")
    assert done.returncode == 0
    assert '"on": [\n    2,\n    3\n  ]' in done.stdout


def test_meter_log_to_csv(tmp_path):
    done = cli(tmp_path, "meter", "log", "log.csv", "--interval", "0.05", "--count", "5")
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.startswith("DMM DM-0001: 5 samples, 0 failed")
    with open(tmp_path / "log.csv", newline="") as stream:
        rows = list(csv.reader(stream))
    assert rows[0] == ["timestamp", "elapsed_s", "voltage_V", "current_A"]
    assert len(rows) == 6 and all(len(r) == 4 and r[2] and r[3] for r in rows[1:])


def test_progress_line_only_on_a_terminal(tmp_path):
    controller, terminal = pty.openpty()
    try:
        done = subprocess.run(
            TOOL + ["meter", "log", "log.csv", "-i", "0.05", "-n", "3"],
            env=environment(DEFAULT_DEVICES), cwd=tmp_path, stdout=subprocess.PIPE,
            stderr=terminal, timeout=TIMEOUT_S)
        os.close(terminal)
        terminal = None
        shown = b""
        while True:
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the terminal's other end is closed: all read
                break
            if not chunk:
                break
            shown += chunk
    finally:
        if terminal is not None:
            os.close(terminal)
        os.close(controller)
    assert done.returncode == 0
    text = shown.decode()
    assert "\rsample 1/3" in text and "\rsample 3/3" in text and text.endswith("\r\n")
    # Without a terminal nothing but errors goes to standard error.
    assert cli(tmp_path, "meter", "log", "other.csv", "-i", "0.05", "-n", "2").stderr == ""


@pytest.mark.parametrize("argv", [["adc", "0", "--interval", "0.05"],
                                  ["meter", "log", "-", "--interval", "0.05"]])
def test_ctrl_c_exits_with_130(tmp_path, argv):
    tool = subprocess.Popen(TOOL + argv, env=environment(DEFAULT_DEVICES), cwd=tmp_path,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        first = first_line(tool)  # the tool is running, its handler in place
        tool.send_signal(signal.SIGINT)
        _, err = tool.communicate(timeout=TIMEOUT_S)
    finally:
        tool.kill()
        tool.wait(timeout=TIMEOUT_S)
    assert first
    assert tool.returncode == 130 and err.endswith("korvane: interrupted\n")


def test_the_documented_run_from_a_build(tmp_path):
    done = launched("list", "--json", cwd=tmp_path, options=["--device", "DMM:DM-0042"])
    assert done.returncode == 0, done.stderr
    assert '"serial": "DM-0042"' in done.stdout
    # The README and the tool's page give this one way.
    for page in (SOURCE_DIR / "README.md", SOURCE_DIR / "docs" / "cli.md"):
        text = page.read_text()
        assert "PYTHONPATH=build/pykorvane /usr/bin/python3 -P -m pykorvane" in text, page
        assert "korvane_cli" not in text, page


@pytest.mark.skipif("--state" not in (SOURCE_DIR / "emulator" / "korvane-emu").read_text(),
                    reason="the launcher has no --state")
def test_emulated_state_kept_between_commands_with_a_state_file(tmp_path):
    state = ["--state", tmp_path / "devices.json"]
    for argv in (["gpio", "mode", "5", "output"], ["gpio", "write", "5", "high"]):
        assert launched(*argv, cwd=tmp_path, options=state).returncode == 0
    assert launched("gpio", "read", "5", cwd=tmp_path, options=state).stdout == "1\n"
    # Without the file each process starts from power-up.
    assert launched("gpio", "read", "5", cwd=tmp_path).stdout == "0\n"
    # An existing file wins over --device, and the launcher says so.
    named = launched("list", cwd=tmp_path, options=state + ["--device", "DMM:DM-0042"])
    assert "DM-0042" not in named.stdout and "VT-0001" in named.stdout
    assert "its devices are used and --device/--no-devices are ignored" in named.stderr


def test_output_piped_into_a_reader_that_stops_early(tmp_path):
    # `korvane adc --interval ... | head -n 2`: the tool ends quietly.
    pipeline = subprocess.Popen(
        TOOL + ["adc", "0", "--interval", "0.01", "--count", "100000"],
        env=environment(DEFAULT_DEVICES), cwd=tmp_path, stdout=subprocess.PIPE,
        stderr=subprocess.PIPE)
    try:
        first = first_line(pipeline)
        pipeline.stdout.close()
        _, err = pipeline.communicate(timeout=TIMEOUT_S)
    finally:
        pipeline.kill()
        pipeline.wait(timeout=TIMEOUT_S)
    assert first.split() == [b"timestamp", b"elapsed_s", b"ch0"]
    assert pipeline.returncode == 0 and err == b""
