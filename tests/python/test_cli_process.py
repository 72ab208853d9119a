"""The command-line tool as a separate process, as a shell runs it.

The emulated devices come from KORVANE_EMU_DEVICES (what the korvane-emu
launcher sets); every run has a time limit.
"""
import csv
import os
import pty
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE_DIR = Path(os.environ.get("KORVANE_SOURCE_DIR", Path(__file__).resolve().parents[2]))
DEFAULT_DEVICES = "Vanta:VT-0001;Brondel HUB:BH-0001;DMM:DM-0001"
TIMEOUT_S = 60

pytestmark = pytest.mark.skipif(
    "KORVANE_EMU_LIB" not in os.environ,
    reason="needs the emulated HID library (KORVANE_EMU_LIB), as the test command sets it")


def environment(devices):
    env = dict(os.environ)
    env["KORVANE_EMU_DEVICES"] = devices
    env["PYTHONPATH"] = os.pathsep.join(
        p for p in (str(SOURCE_DIR / "korvane"), env.get("PYTHONPATH")) if p)
    return env


def cli(tmp_path, *argv, devices=DEFAULT_DEVICES, **options):
    return subprocess.run([sys.executable, "-m", "korvane_cli", *map(str, argv)],
                          env=environment(devices), cwd=tmp_path, capture_output=True,
                          text=True, timeout=TIMEOUT_S, **options)


def test_list(tmp_path):
    done = cli(tmp_path, "list")
    assert (done.returncode, done.stderr) == (0, "")
    lines = done.stdout.splitlines()
    assert lines[0].split() == ["PRODUCT", "SERIAL", "PATH"]
    # Columns: product (may hold a space), serial, path.
    assert sorted(" ".join(line.split()[:-1]) for line in lines[1:]) == [
        "Brondel HUB BH-0001", "DMM DM-0001", "Vanta VT-0001"]


def test_info_of_the_hub(tmp_path):
    done = cli(tmp_path, "info", "hub", "--serial", "BH-0001")
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.splitlines()[:5] == [
        "vendor:   Korvane", "product:  Brondel HUB", "revision: A1",
        "serial:   BH-0001", "firmware: 1.0.0"]


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
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")
    with open(tmp_path / "log.csv", newline="") as stream:
        rows = list(csv.reader(stream))
    assert rows[0] == ["timestamp", "elapsed_s", "voltage", "current"]
    assert len(rows) == 6 and all(len(r) == 4 and r[2] and r[3] for r in rows[1:])


def test_progress_line_only_on_a_terminal(tmp_path):
    controller, terminal = pty.openpty()
    try:
        done = subprocess.run(
            [sys.executable, "-m", "korvane_cli", "meter", "log", "log.csv", "-i", "0.05", "-n", "3"],
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
    # Without a terminal (the other tests) nothing but errors goes to stderr.
    assert cli(tmp_path, "meter", "log", "other.csv", "-i", "0.05", "-n", "2").stderr == ""


def test_launcher_provides_the_devices(tmp_path):
    launcher = SOURCE_DIR / "emulator" / "korvane-emu"
    env = environment("")
    del env["KORVANE_EMU_DEVICES"]
    done = subprocess.run(
        [str(launcher), "--device", "DMM:DM-0042", sys.executable, "-m", "korvane_cli", "list", "--json"],
        env=env, cwd=tmp_path, capture_output=True, text=True, timeout=TIMEOUT_S)
    assert done.returncode == 0, done.stderr
    assert '"serial": "DM-0042"' in done.stdout


def test_output_piped_into_a_reader_that_stops_early(tmp_path):
    # `korvane adc --interval ... | head -n 2`: the tool ends quietly.
    pipeline = subprocess.Popen(
        [sys.executable, "-m", "korvane_cli", "adc", "0", "--interval", "0.01", "--count", "100000"],
        env=environment(DEFAULT_DEVICES), cwd=tmp_path, stdout=subprocess.PIPE,
        stderr=subprocess.PIPE)
    try:
        first = pipeline.stdout.readline()
        pipeline.stdout.close()
        _, err = pipeline.communicate(timeout=TIMEOUT_S)
    finally:
        pipeline.kill()
        pipeline.wait(timeout=TIMEOUT_S)
    assert first.strip().isdigit()
    assert pipeline.returncode == 0 and err == b""
