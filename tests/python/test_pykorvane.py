"""pykorvane against emulated devices: finding and opening devices, argument
checks, exact traffic, pulls, I2C scans, the hub's ports and calls from two
threads."""
import re
import struct

import pytest

import korvane
import pykorvane as pk
from pykorvane import _core
from pykorvane.errors import check
from device_helpers import SOURCE_DIR, R, W, host_reports, u32, when_requested

GPIO_MODE, PULL_UP, PULL_DOWN, GPIO_LEVELS = 0x1200, 0x1201, 0x1202, 0x1203
I2C_TARGET, I2C_REG, I2C_DATA2 = 0x1400, 0x1401, 0x1403
PORTS = 0x8000


@pytest.fixture
def board(opened_pykorvane):
    """An opened I/O board and its emulated device."""
    return opened_pykorvane("Vanta")


@pytest.fixture
def hub(opened_pykorvane):
    """An opened hub and its emulated device."""
    return opened_pykorvane("Brondel HUB")


# --- finding and opening ----------------------------------------------------

def test_devices_lists_every_supported_device(emu):
    first = emu.add("Vanta", serial="VT-1")
    twin = emu.add("Vanta", serial="VT-1")
    blank = emu.add("Vanta")
    meter = emu.add("DMM", serial="DM-1")
    stranger = emu.add("Vanta", serial="X-1")
    stranger.set_product("Something else")  # same USB ids, not a supported model
    found = pk.devices()
    assert [(i.product, i.serial, i.path) for i in found] == [
        ("Vanta", "VT-1", first.path), ("Vanta", "VT-1", twin.path), ("Vanta", "", blank.path),
        ("DMM", "DM-1", meter.path)]
    assert found[0] == pk.DeviceInfo("Vanta", "VT-1", first.path, "Korvane Emulated", 0x0100, 0)
    assert [i.label for i in found] == ["Vanta VT-1", "Vanta VT-1", f"Vanta {blank.path}", "DMM DM-1"]
    assert [i.path for i in pk.devices("DMM")] == [meter.path]
    with pytest.raises(ValueError, match="product must be one of"):
        pk.devices("toaster")


@pytest.mark.parametrize("how, chosen", [
    ({}, 0),                       # the first board
    ({"serial": "VT-2"}, 1),
    ({"serial": ""}, 2),           # the board without a serial number
    ({"path": "/dev/emu-twin"}, 3),  # one of two with equal serial numbers, by path
])
def test_open_chooses_by_serial_or_path(emu, how, chosen):
    devs = [emu.add("Vanta", serial="VT-1"), emu.add("Vanta", serial="VT-2"), emu.add("Vanta"),
            emu.add("Vanta", serial="VT-1", path="/dev/emu-twin")]
    with pk.Vanta(**how) as board:
        assert board.info.path == devs[chosen].path
        assert board.serial == ("VT-1", "VT-2", "", "VT-1")[chosen]
    assert [bool(d.requests()) for d in devs] == [n == chosen for n in range(4)]


@pytest.mark.parametrize("model, how, message", [
    (pk.Vanta, {}, "no Vanta attached"),
    (pk.Vanta, {"serial": "VT-9"}, "no Vanta with serial number 'VT-9'"),
    (pk.Vanta, {"path": "/dev/nothing"}, "no Vanta attached at /dev/nothing"),
    (pk.Vanta, {"path": "/dev/emu-meter"}, "is a DMM, not a Vanta"),
    (pk.Brondel, {}, "no Brondel HUB attached"),
])
def test_open_without_such_device(emu, model, how, message):
    emu.add("DMM", serial="DM-1", path="/dev/emu-meter")
    with pytest.raises(pk.DeviceNotFoundError, match=message) as missing:
        model(**how).open()
    assert isinstance(missing.value, LookupError)
    assert emu.open_handle_count() == 0


def test_one_connection_per_device(emu):
    emu.add("DMM", serial="DM-1")
    first = pk.Dmm().open()
    with pytest.raises(pk.DeviceBusyError, match="held open by another connection"):
        pk.Dmm(serial="DM-1").open()
    first.close()
    with pk.Dmm(serial="DM-1") as second:
        assert second.voltage == 5.0
    # The proxy module's objects share the one claim per device.
    swig_meter = korvane.Dmm()
    assert swig_meter.open() is False
    with pytest.raises(pk.DeviceBusyError):
        pk.Dmm().open()
    swig_meter.close()


@pytest.mark.parametrize("first_by", ["primary", "second"])
def test_a_device_with_two_interfaces_is_one_device(emu, first_by):
    board = emu.add("Vanta", serial="VT-1")
    board.set_interfaces(2)
    paths = {"primary": board.path, "second": next(r[0] for r in _core.attached_devices() if r[5] == 1)}
    assert [i.path for i in pk.devices("Vanta")] == [board.path]
    assert pk.discovery.device_at(paths["second"]) == pk.devices()[0]
    with pk.Vanta(path=paths[first_by]) as first:
        assert first.info.path == board.path
        other = paths["second" if first_by == "primary" else "primary"]
        with pytest.raises(pk.DeviceBusyError):
            pk.Vanta(path=other).open()


class Index:
    """An integer-like object that is no int."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


try:
    import numpy
except ImportError:
    numpy = None
WITH_NUMPY = pytest.mark.skipif(numpy is None, reason="numpy is not installed")


@pytest.mark.parametrize("call, expected", [
    (lambda b: pk.devices("vanta")[0].product, "Vanta"),
    (lambda b: pk.devices("BRONDEL hub"), []),
    (lambda b: b.adc.read(Index(3)), 1600),
    (lambda b: (b.gpio.mode(5, "output"), b.gpio.write(Index(5), 1), b.gpio.levels)[2], 1 << 5),
    (lambda b: (b.gpio.write_levels(Index(0)), b.gpio.levels)[1], 0),
    (lambda b: (b.gpio.mode(5, "OUTPUT"), b.gpio.mode(5))[1], pk.PinMode.OUTPUT),
    (lambda b: pk.devices(1), TypeError),
    (lambda b: pk.discovery.device_at(None), TypeError),
    pytest.param(lambda b: b.adc.read(numpy.uint8(3)), 1600, marks=WITH_NUMPY),
    pytest.param(lambda b: (b.gpio.mode(numpy.int64(5), "output"), b.gpio.write(5, numpy.True_),
                            b.gpio.read(5))[2], True, marks=WITH_NUMPY),
    pytest.param(lambda b: b.gpio.read(numpy.False_), TypeError, marks=WITH_NUMPY),
    pytest.param(lambda b: b.i2c.read(0, width=numpy.float64(2)), TypeError, marks=WITH_NUMPY),
])
def test_integer_likes_and_names_in_any_case(board, call, expected):
    model, _ = board
    if expected is TypeError:
        with pytest.raises(TypeError):
            call(model)
    else:
        assert call(model) == expected


def test_device_that_cannot_be_opened(emu):
    emu.add("Vanta").refuse_open()
    with pytest.raises(pk.DeviceOpenError, match="cannot be opened") as refused:
        pk.Vanta().open()
    assert isinstance(refused.value, OSError)


def test_a_listed_device_opens_as_its_model(emu, monkeypatch):
    board, hub, meter = (emu.add("Vanta", serial="VT-1"), emu.add("Brondel HUB", serial="BH-1"),
                         emu.add("DMM", serial="DM-1"))
    listings = []
    listed = _core.attached_devices
    monkeypatch.setattr(_core, "attached_devices", lambda *args: listings.append(1) or listed(*args))
    found = pk.devices()
    for info, model, dev in zip(found, (pk.Vanta, pk.Brondel, pk.Dmm), (board, hub, meter)):
        with info.open() as opened:
            assert type(opened) is model and opened.is_open
            assert opened.info == info and opened.serial == info.serial
        assert not opened.is_open and dev.requests()
    assert len(listings) == 1  # opening a record lists the devices no more
    assert emu.open_handle_count() == 0


def test_a_listed_device_fails_to_open_as_by_path(emu):
    dev = emu.add("DMM", serial="DM-1")
    info = pk.devices()[0]
    with info.open():
        with pytest.raises(pk.DeviceBusyError, match="held open by another connection"):
            info.open()
    dev.refuse_open()
    with pytest.raises(pk.DeviceOpenError, match="cannot be opened"):
        info.open()
    dev.refuse_open(False)
    dev.unplug()
    with pytest.raises(pk.DeviceNotFoundError, match=f"no DMM attached at {dev.path}"):
        info.open()
    dev.replug()
    stale = pk.DeviceInfo("Vanta", "VT-1", dev.path, "Korvane Emulated", 0x0100)
    with pytest.raises(pk.DeviceNotFoundError, match="is not a Vanta"):
        stale.open()
    with pytest.raises(ValueError, match="product must be one of"):
        pk.DeviceInfo("Toaster", "T-1", dev.path, "", 0).open()
    assert emu.open_handle_count() == 0


def test_the_cores_facts_are_the_packages():
    # The version is CMake's project version, built into the binding.
    cmake = (SOURCE_DIR / "CMakeLists.txt").read_text()
    assert pk.__version__ == _core.__version__ == re.search(
        r"project\(korvane\s+VERSION\s+([0-9.]+)", cmake).group(1)
    assert _core.PRODUCTS == pk.PRODUCTS == (pk.Vanta.PRODUCT, pk.Brondel.PRODUCT, pk.Dmm.PRODUCT)
    assert pk.PRODUCTS == ("Vanta", "Brondel HUB", "DMM")
    # The identity ids are the C++ header's, as the proxy module publishes them.
    for name in ("ATT_VENDOR_NAME", "ATT_PRODUCT_NAME", "ATT_PRODUCT_REVISION",
                 "ATT_PRODUCT_SERIAL", "ATT_FIRM_VERSION"):
        assert getattr(_core, name) == getattr(korvane, name)
    assert _core.ANSWER_TIMEOUT_MS == 1000
    assert _core.NO_ANSWER_REASON == "no answer within 1 s"


def test_open_close_and_with_block(emu):
    dev = emu.add("Vanta", serial="VT-1")
    board = pk.Vanta()
    assert not board.is_open and board.info is None
    assert board.open() is board
    assert board.open() is board  # already open: nothing happens
    assert dev.requests() == [R(attid) for attid in range(5)]
    assert repr(board) == "<Vanta 'VT-1' open>"
    board.close()
    board.close()
    assert not board.is_open and emu.open_handle_count() == 0
    with board as entered:
        assert entered is board and board.is_open
    assert not board.is_open and emu.open_handle_count() == 0


def test_dropped_device_object_closes(emu):
    emu.add("Vanta")
    board = pk.Vanta().open()
    board.gpio.levels  # blocks refer back to the board without keeping it alive
    del board
    assert emu.open_handle_count() == 0


@pytest.mark.parametrize("model, product, block", [
    (pk.Vanta, "Vanta", "gpio"), (pk.Vanta, "Vanta", "adc"), (pk.Vanta, "Vanta", "i2c"),
    (pk.Brondel, "Brondel HUB", "gpio"), (pk.Dmm, "DMM", "i2c")])
def test_a_kept_block_lets_its_dropped_device_close(emu, model, product, block):
    emu.add(product)
    device = model().open()
    kept = getattr(device, block)
    del device
    assert emu.open_handle_count() == 0  # dropping the device object closed it
    with pytest.raises(pk.NotOpenError):
        {"gpio": lambda b: b.levels, "adc": lambda b: b.read(0), "i2c": lambda b: b.read(0)}[block](kept)
    model().open().close()  # nothing holds the device any more


def test_reopen_after_replug(emu):
    dev = emu.add("DMM", serial="DM-1")
    with pk.Dmm() as meter:
        dev.unplug()
        with pytest.raises(pk.DeviceGoneError):
            meter.voltage
        with pytest.raises(pk.DeviceNotFoundError):
            meter.open()
        dev.replug()
        assert meter.open().voltage == 5.0


def test_identity_is_read_fresh(board):
    model, dev = board
    assert (model.vendor, model.product, model.revision, model.serial, model.firmware) == (
        "Korvane", "Vanta", "A1", "VT-0001", "1.0.0")
    dev.set_attribute(4, b"2.0.1\0")
    assert model.firmware == "2.0.1"
    assert dev.requests() == [R(attid) for attid in range(5)] + [R(4)]


@pytest.mark.parametrize("value, text", [
    ("Vanté".encode() + b"\0", "Vanté"),
    (b"Vant\xe9\0", "Vant\udce9"),                 # not UTF-8 (Latin-1)
    (b"A" * 30 + "é".encode()[:1] + b"B", "A" * 30 + "\udcc3B"),  # a character cut short
    (b"A" * 31 + "é".encode()[:1], "A" * 31 + "\udcc3"),          # cut at the 32-byte limit
])
def test_identity_bytes_that_are_not_utf8_are_escaped(board, value, text):
    model, dev = board
    dev.set_attribute(0, value)
    assert model.vendor == text
    assert model.vendor.encode("utf-8", "surrogateescape") == value.rstrip(b"\0")


# --- failures: the exception and its reason --------------------------------------

@pytest.mark.parametrize("status, kind, reason", [
    ("STATUS_NOT_OPEN", pk.NotOpenError, "the device is not open"),
    ("STATUS_NO_ANSWER", TimeoutError, "no answer within 1 s"),
    ("STATUS_REFUSED", pk.RefusedError, "refused by the device (return code 7)"),
    ("STATUS_MALFORMED", pk.MalformedAnswerError, "the answer was malformed"),
    ("STATUS_GONE", OSError, "the device is gone (unplugged?)"),
    (99, pk.KorvaneError, "unknown status 99"),
])
def test_failed_status_raises_its_exception_with_its_reason(status, kind, reason):
    code = getattr(_core, status) if isinstance(status, str) else status
    with pytest.raises(kind) as failed:
        check((code, 7, None), "Vanta VT-1: gpio.read(5)")
    # The message is the reason after the device and operation, also for
    # the exceptions that are OSErrors too (their arguments are not errno).
    assert str(failed.value) == f"Vanta VT-1: gpio.read(5): {reason}"
    assert isinstance(failed.value, pk.KorvaneError) and failed.value.reason == reason


def test_failure_without_an_operation_has_its_message_as_reason():
    assert pk.DeviceNotFoundError("no Vanta attached").reason == "no Vanta attached"


# --- arguments: refused before anything is sent ------------------------------

BAD_BOARD_CALLS = [
    (lambda b: b.gpio.read(32), ValueError, "pin must be in 0..31, got 32"),
    (lambda b: b.gpio.read(-1), ValueError, "pin"),
    (lambda b: b.gpio.read("3"), TypeError, "pin must be an int, not str"),
    (lambda b: b.gpio.read(None), TypeError, "not NoneType"),
    (lambda b: b.gpio.read(True), TypeError, "not bool"),
    (lambda b: b.gpio.read(2.0), TypeError, "not float"),
    (lambda b: b.gpio.mode(1, "sideways"), ValueError, "mode must be one of"),
    (lambda b: b.gpio.mode(1, 3), TypeError, "mode must be a PinMode or str"),
    (lambda b: b.gpio.write(1, 2), ValueError, "level must be True/False or 1/0"),
    (lambda b: b.gpio.write(1, None), TypeError, "level must be a bool"),
    (lambda b: b.gpio.write_levels(1 << 32), ValueError, "mask"),
    (lambda b: b.gpio.write_levels(-1), ValueError, "mask"),
    (lambda b: b.adc.read(8), ValueError, "channel must be in 0..7"),
    (lambda b: b.i2c.read(0x100), ValueError, "reg"),
    (lambda b: b.i2c.read(0, width=5), ValueError, "width must be in 1..4"),
    (lambda b: b.i2c.read(0, width=0), ValueError, "width"),
    (lambda b: b.i2c.write(0, 0x100, width=1), ValueError, "value must be in 0x0..0xff"),
    (lambda b: b.i2c.write(0, -1), ValueError, "value"),
    (lambda b: b.i2c.write(0, None), TypeError, "value"),
    (lambda b: setattr(b.i2c, "target", 0x80), ValueError, "address"),
    (lambda b: b.i2c.probe(None), TypeError, "address"),
    (lambda b: b.i2c.scan(0x50, 0x40), ValueError, "must not be above"),
]


@pytest.mark.parametrize("call, error, message", BAD_BOARD_CALLS)
def test_bad_arguments_send_nothing(board, call, error, message):
    model, dev = board
    with pytest.raises(error, match=message):
        call(model)
    assert dev.requests() == []


@pytest.mark.parametrize("call, message", [
    (lambda h: h.port_on(0), "port must be in 1..32, got 0"),
    (lambda h: h.port_off(33), "port must be in 1..32, got 33"),
    (lambda h: h.is_port_on(0), "port"),
    (lambda h: setattr(h, "port_mask", 1 << 32), "mask"),
])
def test_bad_hub_arguments_send_nothing(hub, call, message):
    model, dev = hub
    with pytest.raises(ValueError, match=message):
        call(model)
    assert dev.requests() == []


@pytest.mark.parametrize("how, error", [
    ({"serial": 5}, TypeError), ({"path": b"/dev/x"}, TypeError), ({"serial": "a", "path": "b"}, ValueError)])
def test_bad_constructor_arguments(emu, how, error):
    with pytest.raises(error):
        pk.Vanta(**how)


# --- exact traffic ---------------------------------------------------------------

def test_pulldown_mode_traffic(board):
    model, dev = board
    model.gpio.mode(5, pk.PinMode.PULLDOWN)
    # inputs at power-up: the pulls are set, pull-down (base + 2) with bit 5
    assert dev.requests() == [R(GPIO_MODE), R(PULL_UP), W(PULL_UP, u32(0)), R(PULL_DOWN),
                              W(PULL_DOWN, u32(0x20)), W(GPIO_MODE, u32(0xFFFFFFFF))]
    assert host_reports(dev)[4][:8] == bytes.fromhex("08 12 12 02 20 00 00 00")


def test_i2c_register_write_traffic(board):
    model, dev = board
    model.i2c.write(0x05, 0x00ABCDEF, width=3)
    assert dev.requests() == [W(I2C_REG, b"\x05"), W(0x1404, b"\xef\xcd\xab")]
    assert host_reports(dev)[1][:7] == bytes.fromhex("07 12 14 04 EF CD AB")
    assert (dev.get_i2c_register(0x40, 5), dev.get_i2c_register(0x40, 6)) == (0xCDEF, 0x00AB)
    assert model.i2c.read(0x05, width=4) == 0x00ABCDEF


# --- GPIO pulls -------------------------------------------------------------------

@pytest.mark.parametrize("mode, undriven", [("pulldown", False), ("pullup", True), ("input", False)])
def test_input_reads_its_pull_and_follows_a_driven_level(board, mode, undriven):
    model, dev = board
    model.gpio.mode(6, "pullup")  # start from the other pull, so it must be cleared
    model.gpio.mode(6, mode)
    assert model.gpio.read(6) is undriven
    for level in (True, False):
        dev.set_gpio_external(1 << 6, level << 6)
        assert model.gpio.read(6) is level
        assert model.gpio.levels == level << 6


def test_output_levels(board):
    model, dev = board
    for pin in (0, 31):
        model.gpio.mode(pin, "output")
    model.gpio.write(31, True)
    model.gpio.write(0, 1)
    assert model.gpio.levels == 0x80000001
    model.gpio.write(31, False)
    assert model.gpio.read(31) is False and model.gpio.read(0) is True


# --- I2C ------------------------------------------------------------------------------

def test_scan_finds_exactly_the_targets_and_keeps_the_bridge_target(board):
    model, dev = board
    for address in (0x08, 0x21, 0x77, 0x78):  # 0x78 is beyond the default scan
        dev.add_i2c_target(address)
    model.i2c.target = 0x21
    dev.set_i2c_register(0x21, 0x03, 0x1234)
    assert model.i2c.scan() == [0x08, 0x21, 0x40, 0x77]
    assert model.i2c.scan(0x09, 0x7F) == [0x21, 0x40, 0x77, 0x78]
    assert [model.i2c.probe(a) for a in (0x21, 0x22)] == [True, False]
    assert model.i2c.target == 0x21
    assert model.i2c.read(0x03) == 0x1234


# --- the hub ------------------------------------------------------------------------

@pytest.mark.parametrize("mask", [0, 1, 0x80000000, 0x5A5A5A5A, 0xFFFFFFFF])
def test_hub_mask_round_trips(hub, mask):
    model, dev = hub
    model.port_mask = mask
    assert dev.get_attribute(PORTS) == u32(mask)
    assert model.port_mask == mask
    assert [model.is_port_on(p) for p in (1, 32)] == [bool(mask & 1), bool(mask >> 31)]


def test_hub_ports_one_at_a_time(hub):
    model, dev = hub
    model.port_mask = 0b1010
    model.port_on(1)
    model.port_off(2)
    model.port_on(32)
    assert model.port_mask == 0x80000009
    assert dev.requests()[-3:] == [R(PORTS), W(PORTS, u32(0x80000009)), R(PORTS)]


# --- threads --------------------------------------------------------------------------

def test_a_waiting_call_lets_another_meter_go_on(emu):
    """A call waiting on a silent meter must not hold the interpreter: once
    its request is out, another thread reads the other meter and then sends
    the awaited answer. Were the interpreter held, that thread could only
    run after the waiting call had given up (NoAnswerError)."""
    silent = emu.add("DMM", serial="DM-1")
    emu.add("DMM", serial="DM-2")
    with pk.Dmm(serial="DM-1") as waiting, pk.Dmm(serial="DM-2") as other:
        silent.mute()
        silent.clear_log()
        readings = []

        def meanwhile():
            readings.extend(other.voltage for _ in range(5))
            silent.inject(bytes([7, 0x13, 1]) + struct.pack("<f", 1.5))  # the awaited answer

        with when_requested(silent, bool, meanwhile) as answered:
            value = waiting.voltage
        assert answered.is_set()
        assert readings == [5.0] * 5
        assert value == 1.5
