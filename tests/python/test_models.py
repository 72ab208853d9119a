"""The device models: opening by product name and serial, the hub's port
mask, the meter's readings and dumps, and the whole-block setters."""
import time

import pytest

import _korvane as K
import korvane
from device_helpers import (FAILED_READING, IDENTITY_READS, OPEN_FAILED, READ, R, W, Listener,
                            assert_deleting_open_releases_handle, model_on, u32)
PORTS = korvane.ATT_USB_PORT_CTRL
CALIBRATION, VOLTAGE, CURRENT = korvane.ATT_CALIBRATION, korvane.ATT_VOLTAGE, korvane.ATT_CURRENT
I2C_REG, I2C_DATA2 = korvane.ATT_IC20_BASE + 1, korvane.ATT_IC20_BASE + 3

MODELS = [(korvane.Vanta, "Vanta"), (korvane.Brondel, "Brondel HUB"), (korvane.Dmm, "DMM")]


# --- Opening ------------------------------------------------------------------

@pytest.mark.parametrize("model, name", MODELS)
def test_each_model_opens_only_its_own_product(emu, model, name):
    devices = {n: emu.add(n, serial="S-" + n) for _, n in MODELS}
    device = model()
    assert device.open() is False
    assert device.getProductName() == name
    assert device.getProductSerial() == "S-" + name
    for other, dev in devices.items():
        if other != name:
            assert dev.log() == []
    assert emu.open_handle_count() == 1


@pytest.mark.parametrize("model, name", MODELS)
def test_open_without_a_matching_device_fails_silently(emu, capfd, model, name):
    for _, other in MODELS:
        if other != name:
            emu.add(other, serial="X-1")
    device = model()
    assert device.open() is True
    assert device.open("X-1") is True
    assert device.isConnected() is False
    assert capfd.readouterr().err == ""
    assert emu.open_handle_count() == 0


def test_two_boards_chosen_by_serial(emu):
    first = emu.add("Vanta", serial="VT-0001")
    second = emu.add("Vanta", serial="VT-0002")
    board_b, board_a = korvane.Vanta(), korvane.Vanta()
    assert board_b.open("VT-0002") is False
    assert board_a.open("VT-0001") is False
    assert (board_a.getProductSerial(), board_b.getProductSerial()) == ("VT-0001", "VT-0002")
    first.set_adc(0, 111)
    second.set_adc(0, 222)
    assert (board_a.adchw.analogRead(0), board_b.adchw.analogRead(0)) == (111, 222)
    # Closing one board leaves the other's link working.
    assert board_a.close() is False
    assert board_b.adchw.analogRead(0) == 222
    assert korvane.Vanta().open("VT-0003") is True


def test_plain_open_takes_the_first_listed_board(emu):
    emu.add("Vanta", serial="VT-0001")
    emu.add("Vanta", serial="VT-0002")
    first_listed = korvane.KorDeviceManager().getSerialList("Vanta")[0]
    board = korvane.Vanta()
    assert board.open() is False
    assert board.getProductSerial() == first_listed


def test_model_open_failures(emu, capfd):
    dev = emu.add("DMM", serial="DM-0001")
    meter = korvane.Dmm()
    dev.refuse_open()
    assert meter.open() is True
    assert capfd.readouterr().err == OPEN_FAILED
    dev.refuse_open(False)
    assert meter.open("DM-0001") is False
    assert meter.open() is True  # already open: no message, nothing changes
    assert capfd.readouterr().err == ""
    assert emu.open_handle_count() == 1


def test_open_argument_checks(emu):
    board = korvane.Vanta()
    with pytest.raises(TypeError) as error:
        K.Vanta_open(board, 5)
    assert str(error.value).startswith("Wrong number or type of arguments for overloaded function 'Vanta_open'.")
    with pytest.raises(TypeError) as error:
        K.Vanta_open(board, None)
    assert str(error.value) == "in method 'Vanta_open', argument 2 of type 'std::string'"
    emu.add("Vanta", serial=None).set_serial(None)
    assert board.open("") is False


@pytest.mark.parametrize("model, name", MODELS)
def test_deleting_an_open_model_closes_it(emu, model, name):
    emu.add(name, serial="S-1")
    assert_deleting_open_releases_handle(emu, model.__name__, "open")


# --- Hub ------------------------------------------------------------------------

@pytest.fixture
def hub(emu):
    with model_on(emu, korvane.Brondel, "Brondel HUB", "BH-0001") as hub_and_dev:
        yield hub_and_dev


def test_hub_open_reads_the_port_mask(hub):
    device, dev = hub
    assert device.open() is False
    assert dev.requests() == IDENTITY_READS + [R(PORTS)]


def test_hub_single_port_changes_build_on_the_cached_mask(hub):
    device, dev = hub
    assert device.open() is False
    dev.clear_log()
    assert device.enableUsbPort(1) is False
    assert device.enableUsbPort(3) is False
    assert dev.requests() == [W(PORTS, u32(0x1)), W(PORTS, u32(0x5))]
    assert [e.report[:8] for e in dev.log() if e.kind == 0][0] == bytes.fromhex("08 12 80 00 01 00 00 00")
    assert dev.get_attribute(PORTS) == u32(0x5)


@pytest.mark.parametrize("steps, written", [
    ([("enableUsbPort", 32), ("disableUsbPort", 32)], [0x80000000, 0]),
    ([("enableAllUsbPort",), ("disableUsbPort", 2)], [0xFFFFFFFF, 0xFFFFFFFD]),
    ([("enableAllUsbPort",), ("disableAllUsbPort",), ("enableUsbPort", 16)], [0xFFFFFFFF, 0, 0x8000]),
])
def test_hub_port_operations(hub, steps, written):
    device, dev = hub
    assert device.open() is False
    dev.clear_log()
    for name, *args in steps:
        assert getattr(device, name)(*args) is False
    assert dev.requests() == [W(PORTS, u32(mask)) for mask in written]


@pytest.mark.parametrize("operation", ["enableUsbPort", "disableUsbPort"])
@pytest.mark.parametrize("port", [0, 33, 0xFFFFFFFF])
def test_hub_port_outside_range_fails_without_traffic(hub, operation, port):
    device, dev = hub
    assert device.open() is False
    dev.clear_log()
    assert getattr(device, operation)(port) is True
    assert dev.requests() == []


def test_hub_port_status_refreshes_the_cache(hub):
    device, dev = hub
    assert device.getUsbPortStatus() == 1  # not open
    assert device.open() is False
    dev.set_attribute(PORTS, u32(0x10))
    assert device.getUsbPortStatus() == 0
    dev.clear_log()
    assert device.enableUsbPort(1) is False
    assert dev.requests() == [W(PORTS, u32(0x11))]


def test_hub_mask_cache_survives_failed_reads_and_writes(hub):
    device, dev = hub
    assert device.open() is False
    assert device.enableUsbPort(1) is False
    assert device.enableUsbPort(3) is False
    dev.fail_attribute(PORTS)
    assert device.getUsbPortStatus() == 1
    dev.clear_log()
    assert device.enableUsbPort(2) is True
    dev.fail_attribute(PORTS, False)
    assert device.enableUsbPort(4) is False
    assert dev.requests() == [W(PORTS, u32(0x7)), W(PORTS, u32(0xF))]


def test_hub_mask_starts_with_zero_upper_bytes(hub):
    device, dev = hub
    dev.fail_attribute(PORTS)
    assert device.open() is False  # the refused mask read does not fail the open
    dev.clear_log()
    assert device.enableUsbPort(1) is True
    assert dev.requests() == [W(PORTS, u32(0x1))]


def test_hub_port_argument_must_be_unsigned(hub):
    device, _ = hub
    with pytest.raises(OverflowError) as error:
        K.Brondel_enableUsbPort(device, -1)
    assert str(error.value) == "in method 'Brondel_enableUsbPort', argument 2 of type 'uint32_t'"


def test_hub_gpio_block(hub):
    device, dev = hub
    assert device.open() is False
    dev.clear_log()
    assert device.gpiohw.write(0x3) is False
    assert dev.requests() == [W(korvane.ATT_GPIO0_BASE + 3, u32(0x3))]


# --- Meter ------------------------------------------------------------------

@pytest.fixture
def meter(emu):
    with model_on(emu, korvane.Dmm, "DMM", "DM-0001") as meter_and_dev:
        yield meter_and_dev


def test_meter_readings(meter):
    device, dev = meter
    assert device.open() is False
    dev.set_reading(VOLTAGE, 5.0)
    dev.set_reading(CURRENT, -0.125)
    assert device.getVoltage() == 5.0
    assert device.getCurrent() == -0.125
    assert dev.requests() == IDENTITY_READS + [R(VOLTAGE), R(CURRENT)]


@pytest.mark.parametrize("reading, attid", [("getVoltage", VOLTAGE), ("getCurrent", CURRENT)])
def test_meter_failed_reading(meter, reading, attid):
    device, dev = meter
    assert getattr(device, reading)() == FAILED_READING == -999.9000244140625  # closed
    assert device.open() is False
    dev.fail_attribute(attid)
    assert getattr(device, reading)() == FAILED_READING


def test_meter_short_answer_is_a_failure(meter):
    device, dev = meter
    assert device.open() is False
    assert device.getVoltage() == 5.0  # bytes 00 00 A0 40 now cached
    dev.raw_answer(VOLTAGE, bytes.fromhex("05 13 01 00 00"))
    assert device.getVoltage() == -999.9000244140625


def test_meter_late_answer_is_never_taken_by_the_next_request(meter):
    device, dev = meter
    assert device.open() is False
    dev.set_reading(VOLTAGE, 12.5)
    dev.set_reading(CURRENT, 0.75)
    dev.answer_delay(1250)
    with Listener(dev) as listener:
        started = time.monotonic()
        assert device.getVoltage() == FAILED_READING
        assert 0.9 <= time.monotonic() - started <= 5.0
        dev.answer_delay(0)
        # The voltage answer arrives, too late.
        assert listener.next_report()[:3] == bytes([3 + 4, READ, 0x01])
    assert device.getCurrent() == 0.75
    assert device.getVoltage() == 12.5
    assert device.getCurrent() == 0.75


def test_meter_calibration(meter):
    device, dev = meter
    assert device.calibration() is True  # not open
    assert device.open() is False
    dev.clear_log()
    assert device.calibration() is False
    assert dev.requests() == [W(CALIBRATION, b"\0\0\0\0")]
    assert dev.calibration_count() == 1


@pytest.mark.parametrize("offsets, text", [
    ((-2, 3, 0, -128), "LOW_CURRENT_OFFSET: -2\nHIGH_CURRENT_OFFSET: 3\n"
                       "LOW_VOLTAGE_OFFSET: 0\nHIGH_VOLTAGE_OFFSET: -128\n"),
    ((127, -1, 10, 0), "LOW_CURRENT_OFFSET: 127\nHIGH_CURRENT_OFFSET: -1\n"
                       "LOW_VOLTAGE_OFFSET: 10\nHIGH_VOLTAGE_OFFSET: 0\n"),
])
def test_meter_calibration_text(meter, offsets, text):
    device, dev = meter
    assert device.open() is False
    dev.set_calibration(*offsets)
    assert device.getCalibrationData() == text
    assert dev.requests()[-1] == R(CALIBRATION)


def test_meter_calibration_text_failure_is_empty(meter):
    device, dev = meter
    assert device.getCalibrationData() == ""
    assert device.open() is False
    dev.fail_attribute(CALIBRATION)
    assert device.getCalibrationData() == ""


def test_meter_register_dump(meter):
    device, dev = meter
    assert device.open() is False
    for reg in range(18):
        dev.set_i2c_register(0x40, reg, 0x100 * reg + 1)
    dev.set_i2c_register(0x40, 0x0A, 0x1234)
    dev.clear_log()
    lines = device.showReg().split("\n")
    assert lines[-1] == "" and len(lines) == 19
    labels = [format(r, "x") for r in range(18)]
    values = [format(0x100 * r + 1, "x") for r in range(18)]
    values[0x0A] = "1234"
    assert lines[:-1] == ["%s: 0x%s" % lv for lv in zip(labels, values)]
    expected = []
    for reg in range(18):
        expected += [W(I2C_REG, bytes([reg])), R(I2C_DATA2)]
    assert dev.requests() == expected


def test_meter_register_dump_when_reads_fail(meter):
    device, dev = meter
    expected = "".join("%x: 0x0\n" % r for r in range(18))
    assert device.showReg() == expected  # not open
    assert device.open() is False
    dev.fail_attribute(I2C_DATA2)
    assert device.showReg() == expected


def test_meter_die_id(meter):
    device, dev = meter
    assert device.getDieID() == 0
    assert device.open() is False
    dev.clear_log()
    assert device.getDieID() == 0x2260
    assert dev.requests() == [W(I2C_REG, b"\xff"), R(I2C_DATA2)]
    dev.fail_attribute(I2C_REG)
    assert device.getDieID() == 0


# --- Whole-block setters ----------------------------------------------------------

SETTERS = [
    (korvane.Vanta, "Vanta", "gpiohw", "GpioHw"),
    (korvane.Vanta, "Vanta", "adchw", "AdcHw"),
    (korvane.Vanta, "Vanta", "i2chw", "I2cHw"),
    (korvane.Brondel, "Brondel", "gpiohw", "GpioHw"),
    (korvane.Dmm, "Dmm", "i2chw", "I2cHw"),
]


@pytest.mark.parametrize("model, cls, member, block", SETTERS)
def test_block_setter_refuses_none(model, cls, member, block):
    device = model()
    expected = "in method '%s_%s_set', argument 2 of type '%s *'" % (cls, member, block)
    with pytest.raises(TypeError) as error:
        getattr(K, "%s_%s_set" % (cls, member))(device, None)
    assert str(error.value) == expected
    with pytest.raises(TypeError):
        setattr(device, member, None)


def test_block_setter_copies_ids_and_values(emu):
    first = emu.add("Vanta", serial="VT-0001")
    second = emu.add("Vanta", serial="VT-0002")
    target, source = korvane.Vanta(), korvane.Vanta()
    assert target.open("VT-0001") is False
    assert source.open("VT-0002") is False
    assert source.gpiohw.write(0x50) is False
    target.gpiohw = source.gpiohw
    # The copy carries the source's cached mask and talks through the
    # source's service; the source keeps attributes of its own.
    second.fail_attribute(korvane.ATT_GPIO0_BASE + 3)
    second.clear_log()
    assert target.gpiohw.digitalWrite(1, True) is True
    assert second.requests() == [R(korvane.ATT_GPIO0_BASE + 3),
                                 W(korvane.ATT_GPIO0_BASE + 3, u32(0x52))]
    second.fail_attribute(korvane.ATT_GPIO0_BASE + 3, False)
    second.clear_log()
    assert source.gpiohw.write(0x1) is False
    K.delete_Vanta(target)
    assert source.gpiohw.write(0x2) is False
    assert second.requests() == [W(korvane.ATT_GPIO0_BASE + 3, u32(0x1)),
                                 W(korvane.ATT_GPIO0_BASE + 3, u32(0x2))]
    # Nothing of it ever reached the target's own device.
    assert [r for r in first.requests() if r[1] == korvane.ATT_GPIO0_BASE + 3] == []


def test_block_self_assignment_is_harmless(emu):
    dev = emu.add("DMM", serial="DM-0001")
    device = korvane.Dmm()
    assert device.open() is False
    device.i2chw = device.i2chw
    assert device.getDieID() == 0x2260
    assert dev.get_i2c_register(0x40, 0xFF) == 0x2260


def test_block_from_a_board_of_the_test_own(emu):
    dev = emu.add("Vanta", serial="VT-0001")
    board = korvane.Vanta()
    assert board.open() is False
    link = korvane.KorDevice()
    assert link.open(dev.path) is False
    service = korvane.KorService(link)
    block = korvane.AdcHw(service, korvane.ATT_ADC_BASE)
    board.adchw = block
    del block  # the board holds a copy, not the Python object's block
    dev.set_adc(4, 4444)
    dev.clear_log()
    assert board.adchw.analogRead(4) == 4444
    K.delete_Vanta(board)
    K.delete_KorService(service)
    link.close()
