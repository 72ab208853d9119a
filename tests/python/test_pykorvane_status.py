"""pykorvane: how every operation family ends, against emulated devices.

One table of operations (model, call, value, the attribute that a fault is
put on, the first request on it, the last request of a successful call), run
through each way a call can end: a value, not open, refused, malformed
answer, unplugged. No answer, which costs the 1 s wait bound each time, is
in test_pykorvane_silent.py.
"""
import pytest

import pykorvane as pk
from device_helpers import READ, WRITE, R, W, u32

VANTA, HUB, DMM = "Vanta", "Brondel HUB", "DMM"

GPIO_MODE, GPIO_LEVELS = 0x1200, 0x1203
I2C_TARGET, I2C_REG, I2C_DATA2 = 0x1400, 0x1401, 0x1403
PORTS, CALIBRATION, VOLTAGE, CURRENT = 0x8000, 0x8100, 0x8101, 0x8102
MONITOR_REGISTERS = {0: 0x4127, 1: 0x0271, 2: 0x0FA0, 3: 0x00FA, 4: 0x09C4, 5: 0x0A00,
                     **{reg: 0 for reg in range(6, 0x12)}}

# id, model, call, value, faulted attribute, opcode of its first request,
# last request of the successful call
OPERATIONS = [
    ("identity", VANTA, lambda d: d.vendor, "Korvane", 0, READ, R(0)),
    ("gpio.mode", VANTA, lambda d: d.gpio.mode(2, "pulldown"), None, GPIO_MODE, READ,
     W(GPIO_MODE, u32(0xFFFFFFFF))),
    ("gpio.read", VANTA, lambda d: d.gpio.read(0), False, GPIO_LEVELS, READ, R(GPIO_LEVELS)),
    ("gpio.write", VANTA, lambda d: (d.gpio.mode(1, "output"), d.gpio.write(1, True))[1], None,
     GPIO_LEVELS, READ, W(GPIO_LEVELS, u32(0x2))),
    ("gpio.levels", VANTA, lambda d: d.gpio.levels, 0, GPIO_LEVELS, READ, R(GPIO_LEVELS)),
    ("gpio.write_levels", VANTA, lambda d: d.gpio.write_levels(5), None, GPIO_LEVELS, WRITE,
     W(GPIO_LEVELS, u32(5))),
    ("adc.read", VANTA, lambda d: d.adc.read(3), 1600, 0x1303, READ, R(0x1303)),
    ("adc.read_all", VANTA, lambda d: d.adc.read_all(), [100 + 500 * n for n in range(8)],
     0x1307, READ, R(0x1307)),
    ("i2c.target", VANTA, lambda d: setattr(d.i2c, "target", 0x41), None, I2C_TARGET, WRITE,
     W(I2C_TARGET, b"\x41")),
    ("i2c.read", VANTA, lambda d: d.i2c.read(0x05), 0, I2C_DATA2, READ, R(I2C_DATA2)),
    ("i2c.write", VANTA, lambda d: d.i2c.write(0x05, 0xABCD), None, I2C_DATA2, WRITE,
     W(I2C_DATA2, b"\xcd\xab")),
    ("i2c.scan", VANTA, lambda d: d.i2c.scan(), [0x40], I2C_TARGET, READ, W(I2C_TARGET, b"\x40")),
    ("i2c.probe", VANTA, lambda d: d.i2c.probe(0x40), True, I2C_TARGET, READ, W(I2C_TARGET, b"\x40")),
    ("hub.port_mask", HUB, lambda h: h.port_mask, 0, PORTS, READ, R(PORTS)),
    ("hub.port_mask=", HUB, lambda h: setattr(h, "port_mask", 0x81), None, PORTS, WRITE,
     W(PORTS, u32(0x81))),
    ("hub.port_on", HUB, lambda h: h.port_on(3), None, PORTS, READ, W(PORTS, u32(0x4))),
    ("hub.is_port_on", HUB, lambda h: h.is_port_on(3), False, PORTS, READ, R(PORTS)),
    ("hub.gpio.levels", HUB, lambda h: h.gpio.levels, 0, GPIO_LEVELS, READ, R(GPIO_LEVELS)),
    ("meter.voltage", DMM, lambda m: m.voltage, 5.0, VOLTAGE, READ, R(VOLTAGE)),
    ("meter.current", DMM, lambda m: m.current, 0.25, CURRENT, READ, R(CURRENT)),
    ("meter.calibration_offsets", DMM, lambda m: m.calibration_offsets, (-2, 3, 0, 1),
     CALIBRATION, READ, R(CALIBRATION)),
    ("meter.calibrate", DMM, lambda m: m.calibrate(), None, CALIBRATION, WRITE,
     W(CALIBRATION, u32(0))),
    ("meter.registers", DMM, lambda m: m.registers(), MONITOR_REGISTERS, I2C_DATA2, READ,
     R(I2C_DATA2)),
    ("meter.die_id", DMM, lambda m: m.die_id, 0x2260, I2C_DATA2, READ, R(I2C_DATA2)),
    ("meter.i2c.read", DMM, lambda m: m.i2c.read(0x02), 0x0FA0, I2C_DATA2, READ, R(I2C_DATA2)),
]
IDS = [op[0] for op in OPERATIONS]


@pytest.mark.parametrize("name, product, call, value, attid, opcode, last", OPERATIONS, ids=IDS)
def test_value_and_last_request(opened_pykorvane, name, product, call, value, attid, opcode, last):
    model, dev = opened_pykorvane(product)
    assert call(model) == value
    assert dev.requests()[-1] == last


@pytest.mark.parametrize("name, product, call, value, attid, opcode, last", OPERATIONS, ids=IDS)
def test_not_open(opened_pykorvane, name, product, call, value, attid, opcode, last):
    model, dev = opened_pykorvane(product)
    model.close()
    with pytest.raises(pk.NotOpenError, match="not open"):
        call(model)
    assert dev.requests() == []


@pytest.mark.parametrize("name, product, call, value, attid, opcode, last", OPERATIONS, ids=IDS)
def test_refused_carries_the_return_code(opened_pykorvane, name, product, call, value, attid, opcode, last):
    model, dev = opened_pykorvane(product)
    dev.fail_attribute(attid)
    with pytest.raises(pk.RefusedError) as refused:
        call(model)
    assert refused.value.return_code == 0
    # Any code other than success is a refusal, and it is passed on.
    dev.fail_attribute(attid, False)
    dev.raw_answer(attid, bytes([3, opcode, 7]))
    with pytest.raises(pk.RefusedError, match="return code 7") as refused:
        call(model)
    assert refused.value.return_code == 7


@pytest.mark.parametrize("name, product, call, value, attid, opcode, last", OPERATIONS, ids=IDS)
def test_malformed_answer(opened_pykorvane, name, product, call, value, attid, opcode, last):
    model, dev = opened_pykorvane(product)
    dev.raw_answer(attid, bytes([3, 0x55, 1]))  # an opcode nobody asked for
    with pytest.raises(pk.MalformedAnswerError):
        call(model)


@pytest.mark.parametrize("name, product, call, value, attid, opcode, last", OPERATIONS, ids=IDS)
def test_unplugged_device_is_gone(opened_pykorvane, name, product, call, value, attid, opcode, last):
    model, dev = opened_pykorvane(product)
    dev.unplug()
    with pytest.raises(pk.DeviceGoneError, match="gone") as gone:
        call(model)
    assert isinstance(gone.value, OSError)
    assert not model.is_open


# Faults on the answers around a call: a stray answer before it, a
# duplicated answer, and the first success answer of the call with its value
# cut, emptied or made too long. The call returns its own value or raises;
# never a value that another request (or an earlier answer) carried, and the
# call after it reads right again.
ANSWER_FAULTS = {
    "stray": lambda dev, opcode: dev.inject(bytes([7, opcode, 1, 9, 9, 9, 9]) if opcode == READ
                                            else bytes([3, WRITE, 1])),
    "duplicate": lambda dev, opcode: dev.duplicate_next_answer(),
    "short": lambda dev, opcode: dev.resize_next_answer(2),
    "empty": lambda dev, opcode: dev.resize_next_answer(0),
    "long": lambda dev, opcode: dev.resize_next_answer(33),
}


def answer_fault_outcome(name, fault, attid, opcode, value):
    """What a call must give under fault: its value, or the exception."""
    if fault in ("stray", "duplicate"):
        return value
    # A register access starts with the register address's write.
    if fault == "empty" and (opcode == WRITE or attid == I2C_DATA2):
        return value  # an acknowledgement carries no value: nothing changes
    if fault == "short" and name == "identity":
        return "Ko"  # a shorter text is a text: its own bytes, none of an earlier one
    return pk.MalformedAnswerError


@pytest.mark.parametrize("fault", sorted(ANSWER_FAULTS))
@pytest.mark.parametrize("name, product, call, value, attid, opcode, last", OPERATIONS, ids=IDS)
def test_answer_faults(opened_pykorvane, fault, name, product, call, value, attid, opcode, last):
    model, dev = opened_pykorvane(product)
    ANSWER_FAULTS[fault](dev, opcode)
    expected = answer_fault_outcome(name, fault, attid, opcode, value)
    if expected is pk.MalformedAnswerError:
        with pytest.raises(pk.MalformedAnswerError):
            call(model)
    else:
        assert call(model) == expected
    assert call(model) == value
