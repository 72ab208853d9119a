"""The command-line tool, run in this process against the emulated devices.

main() is called with an argument list, so each case can set the devices up
through the emulator first and inspect their state and traffic afterwards.
"""
import argparse
import csv
import datetime
import json
import math
import re
import signal
import sys
import threading
import time

import pytest

from device_helpers import WRITE, R, W, u32, when_requested
from pykorvane import cli
from pykorvane.cli import common

VOLTAGE, CURRENT = 0x8101, 0x8102
PORTS = 0x8000


def run(capsys, *argv):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def block_requests(device):
    """The device's requests after the identity reads of each open."""
    return [r for r in device.requests() if r[1] > 4]


def interrupt_main():
    """Ctrl-C as the terminal sends it: SIGINT to the main thread."""
    signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)


def reads_of(attid, count):
    return lambda requests: requests.count(R(attid)) >= count


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


# ---------------------------------------------------------------- list, info, selection

def test_list_shows_every_device_with_its_path(emu, capsys):
    meters = [emu.add("DMM", serial="DM-0001"), emu.add("DMM", serial="DM-0001")]
    boards = [emu.add("Vanta", serial=""), emu.add("Vanta", serial="")]
    meters[0].set_interfaces(2)  # a second interface of the same device is not a device
    expected = [("DMM", "DM-0001", meters[0].path), ("DMM", "DM-0001", meters[1].path),
                ("Vanta", "", boards[0].path), ("Vanta", "", boards[1].path)]
    code, out, err = run(capsys, "list", "--json")
    assert (code, err) == (0, "")
    assert json.loads(out) == [dict(zip(("product", "serial", "path"), e)) for e in expected]
    code, out, _ = run(capsys, "list")
    rows = [line.split() for line in out.splitlines()]
    assert rows == [["PRODUCT", "SERIAL", "PATH"]] + [[p, s or "-", path] for p, s, path in expected]


def test_list_with_nothing_attached(emu, capsys):
    assert run(capsys, "list") == (0, "", "korvane: no supported device attached\n")
    code, out, _ = run(capsys, "list", "--json")
    assert code == 0 and json.loads(out) == []


@pytest.mark.parametrize("position", ["before", "after"])
def test_path_reaches_a_duplicate(emu, capsys, position):
    first, second = emu.add("DMM", serial="DM-0001"), emu.add("DMM", serial="DM-0001")
    first.set_reading(VOLTAGE, 1.0)
    second.set_reading(VOLTAGE, 2.0)
    argv = ["meter", "read", "--json"]
    argv = ["-p", second.path] + argv if position == "before" else argv + ["--path", second.path]
    code, out, err = run(capsys, *argv)
    assert (code, err) == (0, "")
    assert json.loads(out)["voltage_V"] == 2.0
    # By serial number the first is taken, and the note says how to reach the other.
    code, out, err = run(capsys, "meter", "read", "-s", "DM-0001")
    assert code == 0 and out.startswith("voltage: 1.000 V")
    assert "2 DMM devices with serial number 'DM-0001' attached" in err and "--path" in err


@pytest.mark.parametrize("argv", [
    ["-s", "VT-0002", "adc", "0"],
    ["--serial", "VT-0002", "adc", "0"],
    ["adc", "-s", "VT-0002", "0"],
    ["adc", "0", "--serial", "VT-0002"],
    ["-s", "VT-0001", "adc", "0", "-s", "VT-0002"],  # the last one given counts
])
def test_serial_before_or_after_the_command(emu, capsys, argv):
    emu.add("Vanta", serial="VT-0001").set_adc(0, 1)
    emu.add("Vanta", serial="VT-0002").set_adc(0, 2)
    assert run(capsys, *argv) == (0, "2\n", "")


def test_version(emu, capsys):
    import pykorvane
    assert run(capsys, "--version") == (0, f"korvane {pykorvane.__version__}\n", "")


def test_info_of_the_chosen_serial(emu, capsys):
    emu.add("Vanta", serial="VT-0001")
    second = emu.add("Vanta", serial="VT-0002")
    code, out, err = run(capsys, "info", "vanta", "--serial", "VT-0002")
    assert (code, err) == (0, "")
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
    assert code == 0 and "serial:   VT-0001" in out
    assert "2 Vanta devices attached, using Vanta VT-0001" in err and "--serial or --path" in err


@pytest.mark.parametrize("selection", [[], ["-s", "VT-0001"], ["-p", "path"]])
def test_a_command_lists_the_devices_once(vanta, capsys, monkeypatch, selection):
    from pykorvane import _core
    listings = []
    listed = _core.attached_devices
    monkeypatch.setattr(_core, "attached_devices", lambda *args: listings.append(1) or listed(*args))
    argv = [vanta.path if a == "path" else a for a in selection]
    assert run(capsys, "gpio", "read", "1", *argv) == (0, "0\n", "")
    assert len(listings) == 1


# ---------------------------------------------------------------- failures

@pytest.mark.parametrize("argv, message", [
    (["info", "vanta"], "korvane: no Vanta attached\n"),
    (["gpio", "read", "1"], "korvane: no Vanta attached\n"),
    (["gpio", "-d", "hub", "read", "1"], "korvane: no Brondel HUB attached\n"),
    (["adc", "0"], "korvane: no Vanta attached\n"),
    (["i2c", "-d", "dmm", "read", "0"], "korvane: no DMM attached\n"),
    (["hub", "status"], "korvane: no Brondel HUB attached\n"),
    (["meter", "read"], "korvane: no DMM attached\n"),
    (["meter", "read", "-p", "/dev/nothing"], "korvane: no device attached at /dev/nothing (see `korvane list`)\n"),
])
def test_device_not_attached(emu, capsys, argv, message):
    assert run(capsys, *argv) == (1, "", message)


def test_unknown_serial_names_the_attached_ones(vanta, capsys):
    assert run(capsys, "adc", "0", "--serial", "VT-9999") == (
        1, "", "korvane: no Vanta with serial number 'VT-9999' attached (attached: 'VT-0001')\n")


def test_path_of_another_model(vanta, capsys):
    assert run(capsys, "meter", "read", "-p", vanta.path) == (
        1, "", f"korvane: {vanta.path} is a Vanta, not a DMM\n")


def test_device_that_cannot_be_opened(vanta, capsys):
    vanta.refuse_open()
    code, out, err = run(capsys, "info", "vanta")
    assert (code, out) == (1, "")
    assert err.startswith(f"korvane: Vanta VT-0001: cannot be opened at {vanta.path}")


def test_device_unplugged_between_choice_and_open(vanta, capsys, monkeypatch):
    # Not a missing access right: the device left after it was listed.
    chosen = common.choose

    def choose_then_unplug(*args):
        info = chosen(*args)
        vanta.unplug()
        return info

    monkeypatch.setattr(common, "choose", choose_then_unplug)
    assert run(capsys, "info", "vanta") == (
        1, "", f"korvane: Vanta VT-0001: cannot be opened: it is no longer attached at {vanta.path}\n")


# Each case takes about 8 s: the open's identity reads wait on the silent
# device before the command's first operation fails.
@pytest.mark.parametrize("model, argv, what", [
    ("Brondel HUB", ["hub", "on", "1"], "reading the port status"),
    ("DMM", ["meter", "read"], "reading the voltage"),
])
def test_muted_device(emu, capsys, model, argv, what):
    emu.add(model, serial="X-1").mute()
    assert run(capsys, *argv) == (1, "", f"korvane: {model} X-1: {what}: no answer within 1 s\n")


@pytest.mark.parametrize("argv, attid, what", [
    (["adc", "3"], 0x1303, "reading ADC channel 3"),
    (["gpio", "write", "2", "1"], 0x1203, "driving pin 2 high"),
    (["gpio", "mode", "2", "output"], 0x1200, "setting pin 2 to output"),
    # These printed a value and exited with 0 before.
    (["gpio", "read", "3"], 0x1203, "reading pin 3"),
    (["gpio", "mask"], 0x1203, "reading the level mask"),
])
def test_refused_operation(vanta, capsys, argv, attid, what):
    vanta.set_attribute(0x1200, u32(0))  # every pin an output: pin 2 may be driven
    vanta.fail_attribute(attid)
    assert run(capsys, *argv) == (
        1, "", f"korvane: Vanta VT-0001: {what}: refused by the device (return code 0)\n")


def test_hub_refusal_is_not_called_silence(hub, capsys):
    hub.fail_attribute(PORTS)
    code, out, err = run(capsys, "hub", "on", "1")
    assert (code, out) == (1, "")
    assert err == ("korvane: Brondel HUB BH-0001: reading the port status: "
                   "refused by the device (return code 0)\n")


def test_hub_named_as_in_the_other_commands(hub, capsys):
    code, out, _ = run(capsys, "hub", "status")
    status_name = out.split(":")[0]
    hub.fail_attribute(0x1203)
    _, _, err = run(capsys, "gpio", "-d", "hub", "read", "1")
    assert status_name == "Brondel HUB BH-0001" and err.startswith(f"korvane: {status_name}: ")


@pytest.mark.parametrize("argv, message", [
    ([], "the following arguments are required: COMMAND"),
    (["frobnicate"], "invalid choice: 'frobnicate'"),
    (["info", "toaster"], "unknown model 'toaster' (choose vanta, hub or dmm)"),
    (["gpio", "mode", "32", "output"], "a pin must be from 0 to 31, not 32"),
    (["gpio", "mode", "3", "sideways"], "invalid choice: 'sideways'"),
    (["gpio", "write", "3", "2"], "invalid choice: '2'"),
    (["gpio", "-d", "dmm", "read", "1"], "invalid choice: 'dmm' (this command works on vanta or hub)"),
    (["gpio", "mask", "0x100000000"], "the mask must be from 0x00 to 0xffffffff"),
    (["gpio", "mask", "5", "--json"], "--json is for reading the mask"),
    (["adc", "8"], "a channel must be from 0 to 7, not 8"),
    (["adc", "0", "--interval", "0"], "the interval must be more than zero"),
    (["adc", "0", "--count", "0"], "the count must be from 1"),
    (["i2c", "addr", "0x80"], "an I2C address must be from 0x00 to 0x7f, not 0x80"),
    (["i2c", "read", "256"], "a register must be from 0x00 to 0xff, not 256"),
    (["i2c", "read", "1", "-w", "5"], "the width must be from 1 to 4, not 5"),
    (["i2c", "write", "1", "0x10000"], "the value 0x10000 does not fit in 2 byte(s)"),
    (["i2c", "write", "1", "0x100", "-w", "1"], "the value 0x100 does not fit in 1 byte(s)"),
    (["i2c", "dump", "-r", "0x10-0x02"], "the first register is above the last"),
    (["i2c", "dump", "-r", "a-b"], "bad range 'a-b'"),
    (["i2c", "detect", "-r", "0x10-0x80"], "an I2C address must be from 0x00 to 0x7f"),
    (["hub", "on", "0"], "ports are numbered 1 to 32"),
    (["hub", "toggle", "33"], "ports are numbered 1 to 32"),
    (["hub", "off", "4-2"], "ranges go upwards"),
    (["hub", "on", "1,x"], "ports must be 'all', a list like 1,3 or a range like 2-4"),
    (["hub", "cycle", "1", "--delay", "-1"], "the delay must be zero or more"),
    (["meter", "log", "-n", "3", "-t", "2"], "not allowed with argument"),
    (["meter", "log", "--interval", "nan"], "the interval must be more than zero"),
    (["-s", "A", "-p", "/dev/x", "list"], "choose a device by --serial or by --path, not both"),
])
def test_bad_arguments(emu, capsys, argv, message):
    code, out, err = run(capsys, *argv)
    assert (code, out) == (2, "")
    assert message in err and err.startswith("usage: korvane")


@pytest.mark.parametrize("argv, usage", [
    (["gpio", "read", "3", "--jsn"], "usage: korvane gpio read"),
    (["meter", "calibrate", "--json"], "usage: korvane meter calibrate"),
    (["hub", "on", "1", "--quiet"], "usage: korvane hub on"),
])
def test_unknown_option_shows_the_commands_usage(emu, capsys, argv, usage):
    code, out, err = run(capsys, *argv)
    assert (code, out) == (2, "")
    assert err.startswith(usage) and "unrecognized arguments" in err


@pytest.mark.parametrize("command", [
    [], ["list"], ["info"], ["gpio"], ["gpio", "mode"], ["gpio", "write"], ["gpio", "read"],
    ["gpio", "mask"], ["adc"], ["i2c"], ["i2c", "detect"], ["i2c", "addr"], ["i2c", "read"],
    ["i2c", "write"], ["i2c", "get"], ["i2c", "set"], ["i2c", "dump"], ["hub"], ["hub", "status"], ["hub", "on"], ["hub", "off"],
    ["hub", "toggle"], ["hub", "cycle"], ["meter"], ["meter", "read"], ["meter", "calibrate"],
    ["meter", "offsets"], ["meter", "regs"], ["meter", "dieid"], ["meter", "log"],
])
def test_help_on_every_command(emu, capsys, command):
    code, out, err = run(capsys, *command, "--help")
    assert (code, err) == (0, "")
    assert out.startswith("usage: " + " ".join(["korvane"] + command))


# ---------------------------------------------------------------- gpio

def test_gpio_pin_mode_and_drive(vanta, capsys):
    assert run(capsys, "gpio", "mode", "5", "output") == (0, "", "")
    assert vanta.get_attribute(0x1200) == u32(0xFFFFFFDF)
    assert run(capsys, "gpio", "write", "5", "high") == (0, "", "")
    assert run(capsys, "gpio", "read", "5") == (0, "1\n", "")
    assert run(capsys, "gpio", "write", "5", "0") == (0, "", "")
    assert run(capsys, "gpio", "read", "5") == (0, "0\n", "")
    code, out, err = run(capsys, "gpio", "write", "4", "high")
    assert (code, out) == (1, "") and "pin 4 is an input; set it to output first" in err
    assert run(capsys, "gpio", "info", "5") == (0, " 5  output    low\n", "")
    code, out, err = run(capsys, "gpio", "info", "--json")
    assert code == 0 and json.loads(out)[4:6] == [{"pin": 4, "mode": "input", "level": 0},
                                                  {"pin": 5, "mode": "output", "level": 0}]


@pytest.mark.parametrize("mode, pull, undriven", [("pullup", 0x1201, "1"), ("pulldown", 0x1202, "0")])
def test_gpio_input_pulls(vanta, capsys, mode, pull, undriven):
    assert run(capsys, "gpio", "mode", "4", mode) == (0, "", "")
    assert vanta.get_attribute(pull)[0] & 0x10
    assert run(capsys, "gpio", "read", "4") == (0, undriven + "\n", "")
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


def test_gpio_all_high_mask_is_a_value(vanta, capsys):
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


@pytest.mark.parametrize("interval", [[], ["--interval", "0.1"]])
def test_adc_repeats(vanta, capsys, interval):
    vanta.set_adc(2, 7)
    started = time.monotonic()
    code, out, _ = run(capsys, "adc", "2", *interval, "--count", "3")
    elapsed = time.monotonic() - started
    assert code == 0 and [row.split("\t")[-1] for row in out.splitlines()[bool(interval):]] == ["7"] * 3
    assert [r for r in vanta.requests() if r[1] == 0x1302] == [R(0x1302)] * 3
    if interval:
        assert 0.2 <= elapsed < 5  # readings at 0, 0.1 and 0.2 s


# Bounded (20 s) in case the interrupt went astray, so that can only fail.
@pytest.mark.parametrize("argv, attid", [
    (["adc", "0", "--interval", "0.05", "--count", "400"], 0x1300),
    (["meter", "log", "-", "--interval", "0.05", "--duration", "20"], VOLTAGE),
])
def test_ctrl_c_exits_with_130(emu, capsys, argv, attid):
    device = emu.add("Vanta" if attid == 0x1300 else "DMM", serial="X-1")
    with when_requested(device, reads_of(attid, 3), interrupt_main) as interrupted:
        code, out, err = run(capsys, *argv)
    assert interrupted.is_set()
    assert code == 130 and err.endswith("korvane: interrupted\n")
    assert len(out.splitlines()) >= 2  # what was read before is kept


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
    assert block_requests(vanta) == [W(0x1400, b"\x51"), W(0x1401, b"\x10"), R(0x1403)]


@pytest.mark.parametrize("width, shown", [(1, "0x34"), (2, "0x1234"), (3, "0x781234"), (4, "0x56781234")])
def test_i2c_data_widths(vanta, capsys, width, shown):
    vanta.add_i2c_target(0x50)
    vanta.set_i2c_register(0x50, 0x20, 0x1234)
    vanta.set_i2c_register(0x50, 0x21, 0x5678)
    assert run(capsys, "i2c", "read", "0x20", "-a", "0x50", "-w", width) == (0, shown + "\n", "")
    assert run(capsys, "i2c", "write", "0x30", shown, "-a", "0x50", "-w", width) == (0, "", "")
    assert run(capsys, "i2c", "read", "0x30", "-a", "0x50", "-w", width) == (0, shown + "\n", "")


@pytest.mark.parametrize("argv, what", [
    (["read", "0"], "reading I2C register 0x00"),
    (["write", "1", "2"], "writing 0x0002 to I2C register 0x01"),
])
def test_i2c_without_a_target_fails(vanta, capsys, argv, what):
    # The read printed 0x0000 and exited with 0 before.
    assert run(capsys, "i2c", *argv, "-a", "0x22") == (
        1, "", f"korvane: Vanta VT-0001: {what}: refused by the device (return code 0); "
               "no target at 0x22?\n")


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


def test_i2c_dump_marks_failed_cells(vanta, capsys):
    code, out, err = run(capsys, "i2c", "dump", "-a", "0x50", "-r", "0x00-0x09")
    assert code == 1
    assert out.splitlines()[1:] == ["00: " + " ".join(["XXXX"] * 8), "08: XXXX XXXX"]
    assert err.startswith("korvane: Vanta VT-0001: 10 of 10 registers could not be read (XXXX)")


def test_i2c_dump_stops_when_the_device_falls_silent(vanta, capsys):
    vanta.add_i2c_target(0x50)

    def past_the_first_row(requests):
        return requests.count(R(0x1403)) >= 12

    vanta.answer_delay(2)  # a dump of about a second: the mute lands in it
    with when_requested(vanta, past_the_first_row, vanta.mute) as muted:
        code, out, err = run(capsys, "i2c", "dump", "-a", "0x50")
    assert muted.is_set()
    assert code == 1 and "no answer within 1 s" in err
    assert 2 <= len(out.splitlines()) < 33  # the header and the rows read before


def test_i2c_on_the_meter_bridge(dmm, capsys):
    assert run(capsys, "i2c", "-d", "dmm", "read", "0xff", "-a", "0x40") == (0, "0x2260\n", "")


def test_i2c_detect_grid(vanta, capsys):
    for address in (0x08, 0x1f, 0x77, 0x03):  # 0x03 lies outside the default range
        vanta.add_i2c_target(address)
    code, out, err = run(capsys, "i2c", "detect")
    assert (code, err) == (0, "")
    blank, none = "  ", "--"
    grid = out.splitlines()
    assert grid[0] == "     " + "  ".join("0123456789abcdef")
    assert len(grid) == 9
    expected = {0x08: "08", 0x1f: "1f", 0x40: "40", 0x77: "77"}
    for row, line in zip(range(0, 0x80, 16), grid[1:]):
        cells = [blank if not 0x08 <= a <= 0x77 else expected.get(a, none) for a in range(row, row + 16)]
        assert line == (f"{row:02x}: " + " ".join(cells)).rstrip()
    assert vanta.get_attribute(0x1400) == bytes([0x40])  # the bridge keeps its target
    code, out, _ = run(capsys, "i2c", "detect", "-r", "0x00-0x10", "--json")
    assert json.loads(out) == {"first": 0, "last": 16, "found": [0x03, 0x08]}


# ---------------------------------------------------------------- hub

def test_hub_status(hub, capsys):
    hub.set_attribute(PORTS, u32(0b101))
    hub.clear_log()
    code, out, err = run(capsys, "hub", "status")
    assert (code, err) == (0, "")
    assert out.splitlines() == ["Brondel HUB BH-0001: port mask 0x00000005",
                                "port  1: on", "port  2: off", "port  3: on", "port  4: off"]
    assert block_requests(hub) == [R(PORTS)]
    code, out, _ = run(capsys, "hub", "status", "--json", "--ports", "2")
    assert json.loads(out) == {"device": "Brondel HUB BH-0001", "serial": "BH-0001", "path": hub.path,
                               "mask": 5, "on": [1, 3], "ports": {"1": True, "2": False, "3": True}}


@pytest.mark.parametrize("argv, before, after", [
    (["on", "1,3"], 0, 0b101),
    (["on", "2-4"], 0b1, 0b1111),
    (["off", "1,3-4"], 0b1111, 0b0010),
    (["on", "all"], 0, 0xFFFFFFFF),
    (["off", "all"], 0xFF, 0),
    (["on", "32"], 0, 0x80000000),
    (["toggle", "1-3"], 0b1010, 0b1101),
    (["toggle", "all"], 0xF0F0F0F0, 0x0F0F0F0F),
])
def test_hub_switching(hub, capsys, argv, before, after):
    hub.set_attribute(PORTS, u32(before))
    hub.clear_log()
    code, out, err = run(capsys, "hub", *argv)
    assert (code, err) == (0, "")
    assert hub.get_attribute(PORTS) == u32(after)
    assert [r for r in block_requests(hub) if r[0] == WRITE] == [W(PORTS, u32(after))]
    assert out.splitlines()[0] == f"Brondel HUB BH-0001: port mask 0x{after:08x}"


def test_hub_cycle_switches_off_waits_and_on(hub, capsys):
    hub.set_attribute(PORTS, u32(0b111))
    hub.clear_log()
    started = time.monotonic()
    code, _, err = run(capsys, "hub", "cycle", "1,3", "--delay", "0.3")
    assert (code, err) == (0, "")
    assert 0.3 <= time.monotonic() - started < 10
    writes = [value for opcode, attid, value in hub.requests() if (opcode, attid) == (WRITE, PORTS)]
    assert writes == [u32(0b010), u32(0b111)]


def test_hub_cycle_interrupted_switches_the_ports_on(hub, capsys):
    hub.set_attribute(PORTS, u32(0b1111))
    switched_off = lambda requests: W(PORTS, u32(0b1001)) in requests  # noqa: E731
    with when_requested(hub, switched_off, interrupt_main) as interrupted:
        code, _, err = run(capsys, "hub", "cycle", "2-3", "--delay", "60")
    assert interrupted.is_set()
    assert code == 130 and err == "korvane: interrupted\n"
    assert hub.get_attribute(PORTS) == u32(0b1111)


# ---------------------------------------------------------------- meter

def test_meter_read_with_units(dmm, capsys):
    dmm.set_reading(VOLTAGE, 5.0)
    dmm.set_reading(CURRENT, 0.25)
    assert run(capsys, "meter", "read") == (0, "voltage: 5.000 V\ncurrent: 250.0 mA\n", "")


def test_meter_read_failure(dmm, capsys):
    dmm.fail_attribute(CURRENT)
    assert run(capsys, "meter", "read") == (
        1, "", "korvane: DMM DM-0001: reading the current: refused by the device (return code 0)\n")


def test_meter_calibrate_and_offsets(dmm, capsys):
    dmm.set_calibration(-2, 3, 0, -128)
    assert run(capsys, "meter", "offsets") == (
        0, "low_current: -2\nhigh_current: 3\nlow_voltage: 0\nhigh_voltage: -128\n", "")
    assert run(capsys, "meter", "calibrate") == (0, "", "")
    assert dmm.calibration_count() == 1


def test_meter_registers_as_the_i2c_dump_shows_them(dmm, capsys):
    dmm.set_i2c_register(0x40, 0x0A, 0x1234)
    code, regs, _ = run(capsys, "meter", "regs")
    assert code == 0
    assert regs.splitlines() == [
        "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f",
        "00: 4127 0271 0fa0 00fa 09c4 0a00 0000 0000",
        "08: 0000 0000 1234 0000 0000 0000 0000 0000",
        "10: 0000 0000"]
    assert run(capsys, "i2c", "-d", "dmm", "dump", "-a", "0x40", "-r", "0x00-0x11") == (0, regs, "")
    assert run(capsys, "meter", "dieid") == (0, "0x2260\n", "")


def read_csv(path):
    with open(path, newline="") as stream:
        return list(csv.reader(stream))


def test_meter_log_rows_timestamps_and_summary(dmm, capsys, tmp_path):
    dmm.set_reading(VOLTAGE, 12.5)
    dmm.set_reading(CURRENT, 0.125)
    output = tmp_path / "log.csv"
    before = datetime.datetime.now().astimezone()
    code, out, err = run(capsys, "meter", "log", output, "--interval", "0.1", "--count", "4")
    after = datetime.datetime.now().astimezone()
    assert (code, err) == (0, "")
    assert re.fullmatch(r"DMM DM-0001: 4 samples, 0 failed, \d+ missed", out.splitlines()[0])
    assert out.splitlines()[1:] == ["voltage: min 12.50 V, mean 12.50 V, max 12.50 V",
                                "current: min 125.0 mA, mean 125.0 mA, max 125.0 mA"]
    rows = read_csv(output)
    assert rows[0] == ["timestamp", "elapsed_s", "voltage_V", "current_A"]
    assert [r[2:] for r in rows[1:]] == [["12.5", "0.125"]] * 4
    stamps = [datetime.datetime.fromisoformat(r[0]) for r in rows[1:]]
    assert all(s.tzinfo is not None for s in stamps)
    assert before <= stamps[0] <= stamps[-1] <= after
    # Sample k starts at k * interval, never before.
    for k, row in enumerate(rows[1:]):
        assert k * 0.1 - 0.001 <= float(row[1]) < k * 0.1 + 2.0


def test_meter_log_duration_to_stdout(dmm, capsys):
    code, out, err = run(capsys, "meter", "log", "-", "--interval", "0.1", "--duration", "0.35")
    assert code == 0
    lines = out.splitlines()
    assert lines[0] == "timestamp,elapsed_s,voltage_V,current_A"
    # Slots at 0, 0.1, 0.2 and 0.3 s; one a loaded machine overran is missed, not run late.
    # Slots a stall pushed past the end are neither run nor counted.
    samples, missed = map(int, re.match(r"DMM DM-0001: (\d+) samples, 0 failed, (\d+) missed", err).groups())
    assert len(lines) == 1 + samples and samples >= 1 and samples + missed <= 4


def test_meter_log_keeps_its_duration_while_reads_time_out(dmm, capsys, tmp_path):
    output, duration = tmp_path / "log.csv", 2.0
    started = time.monotonic()
    with when_requested(dmm, reads_of(CURRENT, 3), dmm.mute) as muted:
        code, out, err = run(capsys, "meter", "log", output, "-i", "0.5", "-t", duration, "--json")
    elapsed = time.monotonic() - started
    assert muted.is_set()
    # The last reading starts before the deadline and waits at most 1.5 s.
    assert elapsed < 5 * (duration + 1.5)
    summary = json.loads(out)
    rows = read_csv(output)[1:]
    assert 2 <= len(rows) == summary["samples"] <= 3
    assert all(float(r[2]) == 5.0 for r in rows)  # only real samples are rows
    assert summary["failed"] >= 1
    assert code == 1 and "samples failed (first: voltage: no answer within 1 s)" in err
    # Once the meter is silent, a sample's current is not read after its voltage failed.
    requests = dmm.requests()
    third_current = [i for i, r in enumerate(requests) if r == R(CURRENT)][2]
    assert R(CURRENT) not in requests[third_current + 1:]


def test_meter_log_never_swaps_columns_after_a_late_answer(dmm, capsys, tmp_path):
    dmm.set_reading(VOLTAGE, 5.0)
    dmm.set_reading(CURRENT, 0.25)
    output = tmp_path / "log.csv"
    # The second current reading's answer comes 2.5 s late, well into the log.
    with when_requested(dmm, reads_of(CURRENT, 1), lambda: dmm.delay_next_answer(2500)) as late:
        run(capsys, "meter", "log", output, "-i", "0.05", "-t", "4")
    assert late.is_set()
    rows = read_csv(output)[1:]
    assert len(rows) > 10
    assert {tuple(r[2:]) for r in rows} == {("5.0", "0.25")}


def test_meter_log_ends_when_the_meter_is_unplugged(dmm, capsys, tmp_path):
    output = tmp_path / "log.csv"
    with when_requested(dmm, reads_of(CURRENT, 2), dmm.unplug) as unplugged:
        code, out, err = run(capsys, "meter", "log", output, "-i", "0.5", "-n", "20")
    assert unplugged.is_set()
    assert code == 1 and "DMM DM-0001: the device is gone (unplugged?); the log stopped" in err
    rows = read_csv(output)[1:]
    assert 1 <= len(rows) <= 2 and out.startswith(f"DMM DM-0001: {len(rows)} samples, 1 failed")


def test_meter_log_counts_failed_samples(dmm, capsys, tmp_path):
    dmm.fail_attribute(CURRENT)
    output = tmp_path / "log.csv"
    code, out, err = run(capsys, "meter", "log", output, "--interval", "0.05", "--count", "3")
    assert code == 1
    assert re.fullmatch(r"DMM DM-0001: 0 samples, 3 failed, \d+ missed\nvoltage: -\ncurrent: -\n", out)
    assert "3 of 3 samples failed (first: current: refused by the device" in err
    assert read_csv(output) == [["timestamp", "elapsed_s", "voltage_V", "current_A"]]


def test_meter_log_plot(dmm, capsys, tmp_path):
    pytest.importorskip("matplotlib")
    dmm.set_reading(VOLTAGE, 5.0, amplitude=1.0, period_ms=400)
    output, plot = tmp_path / "log.csv", tmp_path / "log.png"
    code, _, err = run(capsys, "meter", "log", output, "-i", "0.05", "-n", "8", "--plot", plot)
    assert (code, err) == (0, "")
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


# ---------------------------------------------------------------- text and JSON agree

HEX = re.compile(r"\b[0-9a-f]{4}\b")


def grid_cells(text):
    """{register: value} of a dump grid."""
    cells = {}
    for line in text.splitlines()[1:]:
        row, _, rest = line.partition(":")
        for column in range(8):
            cell = rest[1 + 5 * column:5 + 5 * column]
            if cell.strip():
                cells[f"0x{int(row, 16) + column:02x}"] = int(cell, 16)
    return cells


def labelled(text):
    """{name: first number} of 'name: number unit' lines."""
    return {name: json.loads(value.split()[0]) for name, _, value in
            (line.partition(": ") for line in text.splitlines())}


def four(value):
    """A number to the four significant digits text shows."""
    return float(f"{value:.4g}")


def si_number(text):
    """'12.35 mA' in base units."""
    number, unit = text.split()
    return four(float(number) * 10 ** {"u": -6, "m": -3}.get(unit[:-1], 0))


def readings(text):
    """{name: value} of 'name: 12.35 mA' lines."""
    return {name: si_number(value) for name, _, value in (line.partition(": ") for line in text.splitlines())}


def log_summary(text):
    lines = text.splitlines()
    counts = dict(zip(("samples", "failed"), map(int, re.findall(r"(\d+) \w+", lines[0]))))
    for line, key in zip(lines[1:], ("voltage_V", "current_A")):
        counts[key] = {name: si_number(value) for name, value in re.findall(r"(min|mean|max) ([-\d.]+ \w+)", line)}
    return counts


def summary_in_four_digits(summary):
    return {key: {name: four(value[name]) for name in ("min", "mean", "max")} if isinstance(value, dict) else value
            for key, value in summary.items() if key not in ("device", "missed")}  # missed: timing


AGREEING = [
    (["gpio", "read", "6"], lambda t: {"pin": 6, "level": int(t)}, lambda j: j),
    (["gpio", "mask"], lambda t: int(t, 16), lambda j: j["mask"]),
    (["adc"], lambda t: t.splitlines()[1].split("\t"), lambda j: [str(v) for v in j.values()]),
    (["i2c", "read", "0x20", "-w", "3"], lambda t: int(t, 16), lambda j: j["value"]),
    (["i2c", "dump", "-r", "0x1e-0x22"], grid_cells, lambda j: j["registers"]),
    (["i2c", "detect"], lambda t: [int(c, 16) for line in t.splitlines()[1:]
                                   for c in line[4:].split() if c != "--"], lambda j: j["found"]),
    (["hub", "status"], lambda t: int(t.splitlines()[0].split()[-1], 16), lambda j: j["mask"]),
    (["meter", "read"], readings, lambda j: {"voltage": four(j["voltage_V"]), "current": four(j["current_A"])}),
    (["meter", "offsets"], labelled, lambda j: j),
    (["meter", "regs"], grid_cells, lambda j: j["registers"]),
    (["meter", "dieid"], lambda t: int(t, 16), lambda j: j["die_id"]),
    (["meter", "log", "/dev/null", "-i", "0.05", "-n", "3"], log_summary, summary_in_four_digits),
]


@pytest.mark.parametrize("argv, from_text, from_json", AGREEING, ids=lambda v: " ".join(v) if isinstance(v, list) else "")
def test_json_gives_the_numbers_the_text_shows(emu, capsys, argv, from_text, from_json):
    board, hub, meter = emu.add("Vanta", serial="VT-0001"), emu.add("Brondel HUB", serial="BH-0001"), \
        emu.add("DMM", serial="DM-0001")
    board.set_gpio_external(1 << 6, 1 << 6)
    board.add_i2c_target(0x40)
    for reg in range(0x1e, 0x23):
        board.set_i2c_register(0x40, reg, 0x1111 * (reg - 0x1d))
    board.add_i2c_target(0x2a)
    hub.set_attribute(PORTS, u32(0x80000005))
    meter.set_reading(VOLTAGE, 12.345678)
    meter.set_reading(CURRENT, -0.0001234567)
    meter.set_calibration(-2, 3, 0, -128)
    code, text, _ = run(capsys, *argv)
    assert code == 0
    code, as_json, _ = run(capsys, *argv, "--json")
    assert code == 0
    parsed = json.loads(as_json)
    assert from_text(text) == from_json(parsed)


def test_a_ctrl_c_dropped_on_the_way_still_ends_a_repeating_command():
    # Python raises the KeyboardInterrupt of a SIGINT wherever the main
    # thread is, a finalizer included, which drops it; the sample loop still
    # sees that Ctrl-C was pressed.
    before = signal.getsignal(signal.SIGINT)
    with common.interrupts_noted():
        try:
            signal.raise_signal(signal.SIGINT)
        except KeyboardInterrupt:
            pass  # dropped, as a finalizer would
        with pytest.raises(KeyboardInterrupt):
            next(common.schedule(0.01, None, None))
    assert signal.getsignal(signal.SIGINT) is before


# ---------------------------------------------------------------- JSON stays JSON

def strict_json(text):
    """JSON as a strict reader takes it: NaN and Infinity are not JSON."""
    def refuse(name):
        raise ValueError(f"{name} is not JSON")
    return json.loads(text, parse_constant=refuse)


@pytest.mark.parametrize("value, why", [(math.nan, "nan"), (math.inf, "inf"), (-math.inf, "-inf")])
def test_non_finite_readings_in_valid_json(dmm, capsys, tmp_path, value, why):
    dmm.set_reading(VOLTAGE, value)
    code, out, _ = run(capsys, "meter", "read", "--json")
    assert code == 0 and strict_json(out) == {"voltage_V": None, "voltage_invalid": why, "current_A": 0.25}
    assert run(capsys, "meter", "read")[1].startswith(f"voltage: {why} V\n")
    # The log's first sample reads 5 V, the second the non-finite value.
    dmm.set_reading(VOLTAGE, 5.0)
    dmm.clear_log()
    with when_requested(dmm, reads_of(CURRENT, 1), lambda: dmm.set_reading(VOLTAGE, value)) as changed:
        code, out, _ = run(capsys, "meter", "log", tmp_path / "log.csv", "-i", "1", "-n", "2", "--json")
    assert changed.is_set() and code == 0
    summary = strict_json(out)
    assert summary["voltage_V"] == {"min": 5.0, "mean": 5.0, "max": 5.0, "invalid": 1}
    assert summary["current_A"]["invalid"] == 0


# ---------------------------------------------------------------- time, signals, units

def test_meter_log_rows_carry_the_time_their_readings_were_taken(dmm, capsys, tmp_path):
    dmm.answer_delay(200)  # each reading waits 0.2 s for its answer
    output = tmp_path / "log.csv"
    before = datetime.datetime.now().astimezone()
    assert run(capsys, "meter", "log", output, "-n", "1")[0] == 0
    stamp, elapsed = read_csv(output)[1][:2]
    assert float(elapsed) >= 0.4
    assert datetime.datetime.fromisoformat(stamp) - before >= datetime.timedelta(seconds=0.4)


@pytest.fixture
def sigterm_kept_in_the_test():
    """A SIGTERM outside a command's handlers raises here instead of ending the test run."""
    def stop(number, frame):
        raise KeyboardInterrupt
    previous = signal.signal(signal.SIGTERM, stop)
    yield
    signal.signal(signal.SIGTERM, previous)


@pytest.mark.parametrize("argv, started", [
    (["hub", "cycle", "2-3", "--delay", "1m"], lambda requests: W(PORTS, u32(0b1001)) in requests),
    (["meter", "log", "-", "-i", "50ms", "-t", "20"], reads_of(VOLTAGE, 3)),
])
def test_sigterm_ends_a_command_as_ctrl_c_does(hub, dmm, capsys, sigterm_kept_in_the_test, argv, started):
    hub.set_attribute(PORTS, u32(0b1111))
    terminate = lambda: signal.pthread_kill(threading.main_thread().ident, signal.SIGTERM)  # noqa: E731
    with when_requested(hub if argv[0] == "hub" else dmm, started, terminate) as terminated:
        code, out, err = run(capsys, *argv)
    assert terminated.is_set()
    assert code == 143 and err.endswith("korvane: terminated\n")
    assert hub.get_attribute(PORTS) == u32(0b1111)  # the cycled ports are on again
    if argv[0] == "meter":
        assert re.match(r"DMM DM-0001: \d+ samples, 0 failed", err)  # the summary was written


@pytest.mark.parametrize("convert, given, shown", [
    (lambda v: common.si(v, "V"), 5.0, "5.000 V"),
    (lambda v: common.si(v, "A"), 0.012345, "12.35 mA"),  # rounded to four digits
    (lambda v: common.si(v, "A"), -0.00025, "-250.0 uA"),
    (lambda v: common.si(v, "V"), 0.99996, "1.000 V"),  # not 1000 mV
    (lambda v: common.si(v, "V"), 0.0, "0.000 V"),
    (lambda v: common.si(v, "A"), 1e-15, "1.000e-15 A"),  # beyond the prefixes
    (common.seconds("the interval"), "0.5", 0.5),
    (common.seconds("the interval"), "500ms", 0.5),
    (common.seconds("the interval"), "2 s", 2.0),
    (common.seconds("the interval"), "1m", 60.0),
    (common.seconds("the interval"), "2h", 7200.0),
    (common.seconds("the interval"), "2x", "must be a number of seconds or a duration like 500ms"),
    (common.seconds("the interval"), "0ms", "must be more than zero"),
])
def test_quantities_with_si_prefixes_and_durations_with_units(convert, given, shown):
    if isinstance(shown, str) and shown.startswith("must"):
        with pytest.raises(argparse.ArgumentTypeError, match=shown):
            convert(given)
    else:
        assert convert(given) == shown


# ---------------------------------------------------------------- timed rows, pace

@pytest.mark.parametrize("json_lines", [False, True])
def test_adc_rows_on_a_schedule_carry_time_and_elapsed(vanta, capsys, json_lines):
    vanta.set_adc(3, 1600)
    before = datetime.datetime.now().astimezone()
    code, out, err = run(capsys, "adc", "3", "-i", "100ms", "-n", "3", *(["--json"] if json_lines else []))
    assert (code, err) == (0, "")
    if json_lines:
        rows = [json.loads(line) for line in out.splitlines()]
    else:
        header, *lines = [line.split("\t") for line in out.splitlines()]
        rows = [dict(zip(header, (stamp, float(elapsed), int(value)))) for stamp, elapsed, value in lines]
    assert [sorted(r) for r in rows] == [["ch3", "elapsed_s", "timestamp"]] * 3
    assert [r["ch3"] for r in rows] == [1600] * 3
    assert [0.1 * k <= r["elapsed_s"] < 0.1 * k + 5 for k, r in enumerate(rows)] == [True] * 3
    assert before <= datetime.datetime.fromisoformat(rows[0]["timestamp"])


def test_meter_log_faster_than_the_meter_warns_once(dmm, capsys, tmp_path):
    dmm.answer_delay(30)  # a sample of two readings takes 60 ms or more
    code, out, err = run(capsys, "meter", "log", tmp_path / "log.csv", "-i", "10ms", "-n", "4")
    assert code == 0
    assert err.count("korvane: note: DMM DM-0001 takes") == 1 and "longer than the interval of 10.00 ms" in err
    assert out.startswith("DMM DM-0001: 4 samples, 0 failed, 0 missed\n")


# ---------------------------------------------------------------- i2c-tools' ways

@pytest.mark.parametrize("argv, shown", [
    (["get", "0x50", "0x20"], ["0x34"]),
    (["get", "0x50", "0x20", "w"], ["0x1234"]),
    (["get", "0x50", "0x20", "I"], ["0x56781234"]),
    (["set", "0x50", "0x30", "0xab"], []),
    (["set", "0x50", "0x31", "0xbeef", "W"], []),
    (["dump", "-b", "-a", "0x50", "-r", "0x00-0x03"],
     ["     " + "  ".join("0123456789abcdef") + "    0123456789abcdef", "00: 48 69 ff 07" + " " * 40 + "Hi.?"]),
    (["dump", "-w", "1", "-a", "0x50", "-r", "0x1f-0x20"],
     ["     " + "  ".join("0123456789abcdef") + "    0123456789abcdef",
      "10:" + " " * 46 + "00" + " " * 19 + ".", "20: 34" + " " * 49 + "4"]),
    (["detect", "-r", "0x00-0x07"], ["     " + "  ".join("0123456789abcdef"), "00: " + " ".join(["--"] * 8)]),
])
def test_i2c_tools_order_byte_dump_and_short_detect(vanta, capsys, argv, shown):
    vanta.add_i2c_target(0x50)
    for register, value in ((0x00, 0x48), (0x01, 0x69), (0x02, 0xff), (0x03, 0x07), (0x20, 0x1234), (0x21, 0x5678)):
        vanta.set_i2c_register(0x50, register, value)
    assert run(capsys, "i2c", *argv) == (0, "".join(line + "\n" for line in shown), "")
    if argv[0] == "set":
        assert vanta.get_i2c_register(0x50, int(argv[2], 16)) == int(argv[3], 16)


# ---------------------------------------------------------------- list, --json, serials

@pytest.mark.parametrize("argv, code, out, err", [
    (["list", "-s", "VT-0002"], 0, "PRODUCT  SERIAL   PATH\nVanta    VT-0002  {1}\n", ""),
    (["list", "-s", "VT-9"], 1, "", "korvane: no device with serial number 'VT-9' attached "
                                    "(attached: 'VT-0001', 'VT-0002', '')\n"),
    (["list", "-p", "/dev/none"], 1, "", "korvane: no device at /dev/none attached\n"),
    (["--json", "list", "-s", "VT-0001"], 0, [{"product": "Vanta", "serial": "VT-0001", "path": "{0}"}], ""),
    (["--json", "info", "vanta", "-s", "VT-0002"], 0, {
        "vendor": "Korvane", "product": "Vanta", "revision": "A1", "serial": "VT-0002", "firmware": "1.0.0",
        "path": "{1}"}, ""),
    (["info", "vanta", "-p", "{2}"], 0, "vendor:   Korvane\nproduct:  Vanta\nrevision: A1\nserial:   -\n"
                                        "firmware: 1.0.0\npath:     {2}\n", ""),
    (["--json", "gpio", "mode", "5", "output"], 2, "", "korvane gpio mode: error: unrecognized arguments: --json\n"),
    (["gpio", "mode", "5", "OUTPUT", "-s", "VT-0001"], 0, "", ""),
])
def test_list_filters_json_before_the_command_and_blank_serials(emu, capsys, argv, code, out, err):
    paths = [emu.add("Vanta", serial=serial).path for serial in ("VT-0001", "VT-0002", "")]

    def fill(text):
        for number, path in enumerate(paths):
            text = text.replace("{%d}" % number, path)
        return text

    got_code, got_out, got_err = run(capsys, *map(fill, argv))
    assert got_code == code
    assert got_out == fill(out) if isinstance(out, str) else json.loads(got_out) == json.loads(fill(json.dumps(out)))
    assert (got_err if code != 2 else got_err.splitlines(True)[-1]) == err
