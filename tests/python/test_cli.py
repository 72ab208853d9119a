"""The command-line tool, run in this process against the emulated devices.

main() is called with an argument list, so each case can set the devices up
through the emulator first and inspect their state and traffic afterwards.
"""
import csv
import datetime
import json
import os
import struct
import sys
from pathlib import Path

import pytest

SOURCE_DIR = Path(os.environ.get("KORVANE_SOURCE_DIR", Path(__file__).resolve().parents[2]))
sys.path.insert(0, str(SOURCE_DIR / "korvane"))
import korvane_cli  # noqa: E402
from device_helpers import when_requested  # noqa: E402

WRITE, READ = 0x12, 0x13


def block_requests(device):
    """The device's requests after the identity reads of each open."""
    return [r for r in device.requests() if r[1] > 4]


def run(capsys, *argv):
    code = korvane_cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def u32(value):
    return struct.pack("<I", value)


@pytest.fixture
def vanta(emu):
    return emu.add("Vanta", serial="VT-0001")


@pytest.fixture
def hub(emu):
    return emu.add("Brondel HUB", serial="BH-0001")


@pytest.fixture
def dmm(emu):
    return emu.add("DMM", serial="DM-0001")


@pytest.fixture(autouse=True)
def no_handle_left_open(emu):
    yield
    assert emu.open_handle_count() == 0


# ---------------------------------------------------------------- list, info

def test_list_shows_every_device_once(emu, capsys):
    first = emu.add("Vanta", serial="VT-0001")
    emu.add("DMM", serial="DM-0001").set_interfaces(2)
    second = emu.add("Vanta", serial="VT-0002")
    code, out, err = run(capsys, "list", "--json")
    assert code == 0 and err == ""
    entries = json.loads(out)
    # The meter's second HID interface is the same device.
    assert len(entries) == 3
    vantas = {e["serial"]: e["path"] for e in entries if e["product"] == "Vanta"}
    assert vantas == {"VT-0001": first.path, "VT-0002": second.path}

    code, out, _ = run(capsys, "list")
    lines = out.splitlines()
    assert code == 0 and lines[0].split() == ["PRODUCT", "SERIAL", "PATH"]
    assert sorted(line.split()[1] for line in lines[1:]) == ["DM-0001", "VT-0001", "VT-0002"]


def test_list_with_nothing_attached(emu, capsys):
    assert run(capsys, "list") == (0, "", "korvane: no supported device attached\n")
    code, out, _ = run(capsys, "list", "--json")
    assert code == 0 and json.loads(out) == []


def test_info_of_the_chosen_serial(emu, capsys):
    emu.add("Vanta", serial="VT-0001")
    second = emu.add("Vanta", serial="VT-0002")
    code, out, err = run(capsys, "info", "vanta", "--serial", "VT-0002")
    assert code == 0 and err == ""
    assert out.splitlines() == [
        "vendor:   Korvane", "product:  Vanta", "revision: A1", "serial:   VT-0002",
        "firmware: 1.0.0", f"path:     {second.path}"]


def test_info_json_and_model_aliases(dmm, capsys):
    code, out, _ = run(capsys, "info", "meter", "--json")
    assert code == 0
    assert json.loads(out) == {"vendor": "Korvane", "product": "DMM", "revision": "A1",
                               "serial": "DM-0001", "firmware": "1.0.0", "path": dmm.path}


def test_several_boards_without_serial_use_the_first_and_say_so(emu, capsys):
    emu.add("Vanta", serial="VT-0001")
    emu.add("Vanta", serial="VT-0002")
    code, out, err = run(capsys, "info", "vanta")
    assert code == 0
    assert "2 Vanta devices attached" in err and "--serial" in err


# ---------------------------------------------------------------- failures

@pytest.mark.parametrize("argv, message", [
    (["info", "vanta"], "korvane: no Vanta attached\n"),
    (["gpio", "read", "1"], "korvane: no Vanta attached\n"),
    (["gpio", "-d", "hub", "read", "1"], "korvane: no Brondel HUB attached\n"),
    (["adc", "0"], "korvane: no Vanta attached\n"),
    (["i2c", "-d", "dmm", "read", "0"], "korvane: no DMM attached\n"),
    (["hub", "status"], "korvane: no Brondel HUB attached\n"),
    (["meter", "read"], "korvane: no DMM attached\n"),
])
def test_device_not_attached(emu, capsys, argv, message):
    assert run(capsys, *argv) == (1, "", message)


def test_unknown_serial_names_the_attached_ones(vanta, capsys):
    code, out, err = run(capsys, "adc", "0", "--serial", "VT-9999")
    assert (code, out) == (1, "")
    assert err == "korvane: no Vanta with serial number 'VT-9999' attached (attached: 'VT-0001')\n"


def test_device_that_cannot_be_opened(vanta, capfd):
    # The library prints its own message on the process's standard error.
    vanta.refuse_open()
    code, out, err = run(capfd, "info", "vanta")
    assert (code, out) == (1, "")
    assert "[ERR] Unable to open device" in err
    assert f"Vanta at {vanta.path} cannot be opened" in err


@pytest.mark.parametrize("model, argv", [
    ("Vanta", ["adc", "0"]),
    ("Brondel HUB", ["hub", "on", "1"]),
    ("DMM", ["meter", "read"]),
])
def test_muted_device(emu, capsys, model, argv):
    device = emu.add(model, serial="X-1")
    device.mute()
    code, out, err = run(capsys, *argv)
    assert (code, out) == (1, "")
    assert err == f"korvane: {model} at {device.path} does not answer\n"


@pytest.mark.parametrize("argv, attid, what", [
    (["adc", "3"], 0x1303, "reading ADC channel 3 failed (the device refused it)"),
    (["gpio", "write", "2", "1"], 0x1203, "driving pin 2 high failed (the device refused it)"),
    (["gpio", "mode", "2", "output"], 0x1200, "setting pin 2 to output failed (the device refused it)"),
])
def test_refused_operation(vanta, capsys, argv, attid, what):
    vanta.fail_attribute(attid)
    assert run(capsys, *argv) == (1, "", f"korvane: Vanta VT-0001: {what}\n")


@pytest.mark.parametrize("argv, message", [
    ([], "the following arguments are required: COMMAND"),
    (["frobnicate"], "invalid choice: 'frobnicate'"),
    (["info", "toaster"], "unknown model 'toaster' (choose vanta, hub or dmm)"),
    (["gpio", "mode", "32", "output"], "a pin must be from 0 to 31, not 32"),
    (["gpio", "mode", "3", "pulldown"], "invalid choice: 'pulldown'"),
    (["gpio", "write", "3", "2"], "invalid choice: '2'"),
    (["gpio", "-d", "dmm", "read", "1"], "invalid choice: 'dmm' (this command works on vanta or hub)"),
    (["gpio", "mask", "0x100000000"], "the mask must be from 0x00 to 0xffffffff"),
    (["adc", "8"], "a channel must be from 0 to 7, not 8"),
    (["adc", "0", "--interval", "0"], "the interval must be more than zero"),
    (["adc", "0", "--count", "0"], "the count must be from 1"),
    (["i2c", "addr", "0x80"], "an I2C address must be from 0x00 to 0x7f, not 0x80"),
    (["i2c", "read", "256"], "a register must be from 0x00 to 0xff, not 256"),
    (["i2c", "write", "1", "0x10000"], "the value must be from 0x00 to 0xffff"),
    (["i2c", "dump", "-r", "0x10-0x02"], "the first register is above the last"),
    (["i2c", "dump", "-r", "a-b"], "bad range 'a-b'"),
    (["hub", "on", "0"], "ports are numbered 1 to 32"),
    (["hub", "on", "33"], "ports are numbered 1 to 32"),
    (["hub", "off", "4-2"], "ranges go upwards"),
    (["hub", "on", "1,x"], "ports must be 'all', a list like 1,3 or a range like 2-4"),
    (["hub", "cycle", "1", "--delay", "-1"], "the delay must be zero or more"),
    (["meter", "log", "-n", "3", "-t", "2"], "not allowed with argument"),
    (["meter", "log", "--interval", "nan"], "the interval must be more than zero"),
])
def test_bad_arguments(emu, capsys, argv, message):
    code, out, err = run(capsys, *argv)
    assert (code, out) == (2, "")
    assert message in err and err.startswith("usage: korvane")


@pytest.mark.parametrize("command", [
    [], ["list"], ["info"], ["gpio"], ["gpio", "mode"], ["gpio", "write"], ["gpio", "read"],
    ["gpio", "mask"], ["adc"], ["i2c"], ["i2c", "addr"], ["i2c", "read"], ["i2c", "write"],
    ["i2c", "dump"], ["hub"], ["hub", "status"], ["hub", "on"], ["hub", "off"],
    ["hub", "cycle"], ["meter"], ["meter", "read"], ["meter", "calibrate"],
    ["meter", "offsets"], ["meter", "regs"], ["meter", "dieid"], ["meter", "log"],
])
def test_help_on_every_command(emu, capsys, command):
    code, out, err = run(capsys, *command, "--help")
    assert (code, err) == (0, "")
    assert out.startswith("usage: " + " ".join(["korvane"] + command))


# ---------------------------------------------------------------- gpio

def test_gpio_pin_mode_and_drive(vanta, capsys):
    vanta.set_attribute(0x1200, u32(0xFFFFFFFF))
    vanta.clear_log()
    assert run(capsys, "gpio", "mode", "5", "output") == (0, "", "")
    assert block_requests(vanta) == [(READ, 0x1200, b""), (WRITE, 0x1200, u32(0xFFFFFFDF))]

    assert run(capsys, "gpio", "write", "5", "high") == (0, "", "")
    assert run(capsys, "gpio", "read", "5") == (0, "1\n", "")
    assert run(capsys, "gpio", "write", "5", "0") == (0, "", "")
    assert run(capsys, "gpio", "read", "5") == (0, "0\n", "")


def test_gpio_input_with_pullup_reads_external_level(vanta, capsys):
    assert run(capsys, "gpio", "mode", "4", "pullup") == (0, "", "")
    assert vanta.get_attribute(0x1201)[0] & 0x10
    vanta.set_gpio_external(1 << 4, 0)
    assert run(capsys, "gpio", "read", "4") == (0, "0\n", "")
    vanta.set_gpio_external(1 << 4, 1 << 4)
    assert run(capsys, "gpio", "read", "4") == (0, "1\n", "")


@pytest.mark.parametrize("model, device_option", [("Vanta", []), ("Brondel HUB", ["-d", "hub"])])
def test_gpio_level_mask_round_trip(emu, capsys, model, device_option):
    board = emu.add(model, serial="S-1")
    board.set_attribute(0x1200, u32(0))  # every pin an output
    assert run(capsys, "gpio", *device_option, "mask", "0x12345678") == (0, "", "")
    assert board.get_attribute(0x1203) == u32(0x12345678)
    # The selection options may also follow the action.
    assert run(capsys, "gpio", "mask", *device_option, "-s", "S-1") == (0, "0x12345678\n", "")


def test_gpio_all_high_mask_is_not_taken_for_a_failure(vanta, capsys):
    vanta.set_attribute(0x1200, u32(0))
    assert run(capsys, "gpio", "mask", "0xffffffff") == (0, "", "")
    assert run(capsys, "gpio", "mask") == (0, "0xffffffff\n", "")


# ---------------------------------------------------------------- adc

def test_adc_one_channel_and_all(vanta, capsys):
    for channel in range(8):
        vanta.set_adc(channel, 100 * channel + 1)
    vanta.set_adc(3, 0x1234)
    assert run(capsys, "adc", "3") == (0, "4660\n", "")
    code, out, _ = run(capsys, "adc")
    assert code == 0
    assert out.splitlines() == ["\t".join(f"ch{c}" for c in range(8)),
                                "1\t101\t201\t4660\t401\t501\t601\t701"]


def test_adc_repeats_at_the_interval(vanta, capsys):
    vanta.set_adc(2, 7)
    started = datetime.datetime.now()
    code, out, _ = run(capsys, "adc", "2", "--interval", "0.1", "--count", "3")
    elapsed = (datetime.datetime.now() - started).total_seconds()
    assert code == 0 and out == "7\n7\n7\n"
    assert 0.2 <= elapsed < 5
    assert [r for r in vanta.requests() if r[1] == 0x1302] == [(READ, 0x1302, b"")] * 3


# ---------------------------------------------------------------- i2c

def test_i2c_address_read_and_write(vanta, capsys):
    vanta.add_i2c_target(0x50)
    vanta.set_i2c_register(0x50, 0x05, 0x1234)
    assert run(capsys, "i2c", "addr", "0x50") == (0, "", "")
    assert vanta.get_attribute(0x1400) == bytes([0x50])
    assert run(capsys, "i2c", "read", "5") == (0, "0x1234\n", "")
    assert run(capsys, "i2c", "write", "0x06", "0xabcd") == (0, "", "")
    assert vanta.get_i2c_register(0x50, 0x06) == 0xABCD


def test_i2c_target_option_sets_the_address_first(vanta, capsys):
    vanta.add_i2c_target(0x51)
    vanta.set_i2c_register(0x51, 0x10, 0xBEEF)
    vanta.clear_log()
    assert run(capsys, "i2c", "read", "0x10", "--addr", "0x51") == (0, "0xbeef\n", "")
    assert block_requests(vanta) == [(WRITE, 0x1400, b"\x51"), (WRITE, 0x1401, b"\x10"),
                                    (READ, 0x1403, b"")]


def test_i2c_write_to_an_absent_target_fails(vanta, capsys):
    code, out, err = run(capsys, "i2c", "write", "1", "2", "-a", "0x22")
    assert (code, out) == (1, "")
    assert "writing 0x0002 to I2C register 0x01 failed (the device refused it)" in err


def test_i2c_dump_grid(vanta, capsys):
    vanta.add_i2c_target(0x50)
    for reg in range(0x03, 0x0B):
        vanta.set_i2c_register(0x50, reg, 0x0100 + reg)
    code, out, err = run(capsys, "i2c", "dump", "-a", "0x50", "-r", "0x03-0x0a")
    assert (code, err) == (0, "")
    assert out.splitlines() == [
        "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f",
        "00:                0103 0104 0105 0106 0107",
        "08: 0108 0109 010a",
    ]


def test_i2c_zero_comes_with_a_note(vanta, capsys):
    vanta.add_i2c_target(0x50)
    code, out, err = run(capsys, "i2c", "read", "7", "-a", "0x50")
    assert (code, out) == (0, "0x0000\n")
    assert "also gives 0 for a read that failed" in err


def test_i2c_dump_stops_when_the_device_falls_silent(vanta, capsys):
    vanta.add_i2c_target(0x50)
    vanta.answer_delay(5)  # a full dump then takes seconds: time to fall silent
    def past_the_first_row(requests):  # eight register reads a row
        return sum(r[0] == READ and r[1] > 4 for r in requests) >= 12

    with when_requested(vanta, past_the_first_row, vanta.mute) as muted:
        code, out, err = run(capsys, "i2c", "dump", "-a", "0x50")
    assert muted.is_set()
    assert code == 1
    assert "failed: the device does not answer" in err
    assert 2 <= len(out.splitlines()) < 33  # the header and the rows read before


def test_i2c_on_the_meter_bridge(dmm, capsys):
    assert run(capsys, "i2c", "-d", "dmm", "read", "0xff", "-a", "0x40") == (0, "0x2260\n", "")


# ---------------------------------------------------------------- hub

def test_hub_status(hub, capsys):
    hub.set_attribute(0x8000, u32(0b101))
    code, out, err = run(capsys, "hub", "status")
    assert (code, err) == (0, "")
    assert out.splitlines() == ["Brondel HUB BH-0001: port mask 0x00000005",
                                "port  1: on", "port  2: off", "port  3: on", "port  4: off"]
    code, out, _ = run(capsys, "hub", "status", "--json", "--ports", "2")
    assert json.loads(out) == {"product": "Brondel HUB", "serial": "BH-0001", "path": hub.path,
                               "mask": 5, "on": [1, 3], "ports": {"1": True, "2": False, "3": True}}


@pytest.mark.parametrize("argv, before, after", [
    (["on", "1,3"], 0, 0b101),
    (["on", "2-4"], 0b1, 0b1111),
    (["off", "1,3-4"], 0b1111, 0b0010),
    (["on", "all"], 0, 0xFFFFFFFF),
    (["off", "all"], 0xFF, 0),
    (["on", "32"], 0, 0x80000000),
])
def test_hub_switching(hub, capsys, argv, before, after):
    hub.set_attribute(0x8000, u32(before))
    code, out, err = run(capsys, "hub", *argv)
    assert (code, err) == (0, "")
    assert hub.get_attribute(0x8000) == u32(after)
    assert out.splitlines()[0] == f"Brondel HUB BH-0001: port mask 0x{after:08x}"


def test_hub_cycle_switches_off_waits_and_on(hub, capsys):
    hub.set_attribute(0x8000, u32(0b111))
    hub.clear_log()
    started = datetime.datetime.now()
    code, _, err = run(capsys, "hub", "cycle", "1,3", "--delay", "0.3")
    elapsed = (datetime.datetime.now() - started).total_seconds()
    assert (code, err) == (0, "")
    assert 0.3 <= elapsed < 10
    writes = [value for opcode, attid, value in hub.requests() if (opcode, attid) == (WRITE, 0x8000)]
    assert writes == [u32(0b110), u32(0b010), u32(0b011), u32(0b111)]


def test_hub_refused_switch(hub, capsys):
    hub.fail_attribute(0x8000)
    code, out, err = run(capsys, "hub", "on", "2")
    assert (code, out) == (1, "")
    assert "switching port 2 on failed" in err


# ---------------------------------------------------------------- meter

def test_meter_read(dmm, capsys):
    dmm.set_reading(0x8101, 5.0)
    dmm.set_reading(0x8102, 0.25)
    assert run(capsys, "meter", "read") == (0, "voltage: 5\ncurrent: 0.25\n", "")
    code, out, _ = run(capsys, "meter", "read", "--json")
    assert json.loads(out) == {"voltage": 5.0, "current": 0.25}


def test_meter_read_failure(dmm, capsys):
    dmm.fail_attribute(0x8102)
    assert run(capsys, "meter", "read") == (
        1, "", "korvane: DMM DM-0001: reading the current failed (the device refused it)\n")


def test_meter_calibrate_and_offsets(dmm, capsys):
    dmm.set_calibration(-2, 3, 0, -128)
    assert run(capsys, "meter", "offsets") == (0, "LOW_CURRENT_OFFSET: -2\nHIGH_CURRENT_OFFSET: 3\n"
                                                  "LOW_VOLTAGE_OFFSET: 0\nHIGH_VOLTAGE_OFFSET: -128\n", "")
    assert run(capsys, "meter", "calibrate") == (0, "", "")
    assert dmm.calibration_count() == 1


def test_meter_registers_and_die_id(dmm, capsys):
    dmm.set_i2c_register(0x40, 0x0A, 0x1234)
    code, out, _ = run(capsys, "meter", "regs")
    lines = out.splitlines()
    assert code == 0 and len(lines) == 18 and lines[10] == "a: 0x1234"
    assert run(capsys, "meter", "dieid") == (0, "0x2260\n", "")


def read_csv(path):
    with open(path, newline="") as stream:
        return list(csv.reader(stream))


def test_meter_log_rows_and_timestamps(dmm, capsys, tmp_path):
    dmm.set_reading(0x8101, 12.5)
    dmm.set_reading(0x8102, 0.125)
    output = tmp_path / "log.csv"
    before = datetime.datetime.now().astimezone()
    assert run(capsys, "meter", "log", output, "--interval", "0.1", "--count", "4") == (0, "", "")
    after = datetime.datetime.now().astimezone()

    rows = read_csv(output)
    assert rows[0] == ["timestamp", "elapsed_s", "voltage", "current"]
    assert [r[2:] for r in rows[1:]] == [["12.5", "0.125"]] * 4
    stamps = [datetime.datetime.fromisoformat(r[0]) for r in rows[1:]]
    assert all(s.tzinfo is not None for s in stamps)
    assert before <= stamps[0] <= stamps[-1] <= after
    elapsed = [float(r[1]) for r in rows[1:]]
    # Sample k starts at k * interval; the clock never runs backwards.
    for k, value in enumerate(elapsed):
        assert k * 0.1 - 0.001 <= value < k * 0.1 + 0.5
    gaps = [(b - a).total_seconds() for a, b in zip(stamps, stamps[1:])]
    assert all(0.05 <= gap < 0.6 for gap in gaps)


def test_meter_log_duration_to_stdout(dmm, capsys):
    code, out, err = run(capsys, "meter", "log", "-", "--interval", "0.1", "--duration", "0.35")
    assert (code, err) == (0, "")
    lines = out.splitlines()
    assert lines[0] == "timestamp,elapsed_s,voltage,current"
    assert len(lines) == 1 + 4  # samples at 0, 0.1, 0.2 and 0.3 s


def test_meter_log_when_the_meter_goes_silent(dmm, capsys, tmp_path):
    output = tmp_path / "log.csv"
    # Silent once the first sample's current has been answered.
    current_read = (READ, 0x8102, b"")
    with when_requested(dmm, lambda requests: current_read in requests, dmm.mute) as muted:
        code, out, err = run(capsys, "meter", "log", output, "--interval", "0.1", "--count", "50")
    assert muted.is_set()
    assert (code, out) == (1, "")
    assert "DMM DM-0001 stopped answering" in err
    rows = read_csv(output)[1:]
    # Rows logged before the meter fell silent keep their readings; the
    # silent samples are there with empty cells, and the log stopped early.
    assert rows[0][2] != "" and rows[-1][2:] == ["", ""]
    assert len(rows) < 50


def test_meter_log_with_some_failed_readings(dmm, capsys, tmp_path):
    dmm.fail_attribute(0x8102)
    output = tmp_path / "log.csv"
    code, _, err = run(capsys, "meter", "log", output, "--interval", "0.05", "--count", "3")
    assert code == 1
    assert "3 of 6 readings failed" in err
    assert [r[3] for r in read_csv(output)[1:]] == ["", "", ""]


def test_meter_log_plot(dmm, capsys, tmp_path):
    pytest.importorskip("matplotlib")
    dmm.set_reading(0x8101, 5.0, amplitude=1.0, period_ms=400)
    output, plot = tmp_path / "log.csv", tmp_path / "log.png"
    assert run(capsys, "meter", "log", output, "-i", "0.05", "-n", "8", "--plot", plot) == (0, "", "")
    assert plot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert plot.stat().st_size > 5000


def test_meter_log_plot_without_matplotlib(dmm, capsys, tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)  # import fails
    output = tmp_path / "log.csv"
    code, out, err = run(capsys, "meter", "log", output, "-n", "1", "--plot", tmp_path / "p.png")
    assert (code, out) == (1, "")
    assert "--plot needs matplotlib" in err
    assert not output.exists()  # refused before logging


def test_meter_log_cannot_write_its_file(dmm, capsys, tmp_path):
    code, out, err = run(capsys, "meter", "log", tmp_path / "missing" / "log.csv", "-n", "1")
    assert (code, out) == (1, "")
    assert "cannot write" in err
