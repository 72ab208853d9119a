"""An answer that comes 2.5 s late, on both faces: the call it belonged to
fails, and no later call ever returns it (or any other request's value) as
its own, in a loop that runs until well after the late answer came. Each
case alternates two calls of one family whose answers have the same shape
but different values, so a shifted answer shows."""
import time

import pytest

import korvane
import pykorvane as pk
from device_helpers import FAILED_READING, opened

LATE_MS = 2500
VOLTAGE, CURRENT = 0x8101, 0x8102


def meter_setup(dev):
    dev.set_reading(VOLTAGE, 5.0)
    dev.set_reading(CURRENT, 0.25)


def board_setup(dev):
    dev.set_adc(1, 111)
    dev.set_adc(2, 222)
    dev.set_i2c_register(0x40, 5, 0x1111)
    dev.set_i2c_register(0x40, 6, 0x2222)


# family: product, setup, pykorvane calls, module calls, each (call, right value)
FAMILIES = {
    "reading": ("DMM", meter_setup,
                [(lambda m: m.voltage, 5.0), (lambda m: m.current, 0.25)],
                [(lambda m: m.getVoltage(), 5.0), (lambda m: m.getCurrent(), 0.25)]),
    "count": ("Vanta", board_setup,
              [(lambda b: b.adc.read(1), 111), (lambda b: b.adc.read(2), 222)],
              [(lambda b: b.adchw.analogRead(1), 111), (lambda b: b.adchw.analogRead(2), 222)]),
    "register": ("Vanta", board_setup,
                 [(lambda b: b.i2c.read(5), 0x1111), (lambda b: b.i2c.read(6), 0x2222)],
                 [(lambda b: b.i2chw.read2byte(5), 0x1111), (lambda b: b.i2chw.read2byte(6), 0x2222)]),
    "identity": ("Vanta", board_setup,
                 [(lambda b: b.vendor, "Korvane"), (lambda b: b.serial, "VT-0001")], None),
}
FAILED = {"DMM": FAILED_READING, "Vanta": None}
MODULE_CLASSES = {"DMM": korvane.Dmm, "Vanta": korvane.Vanta}
PYKORVANE_CLASSES = {"DMM": pk.Dmm, "Vanta": pk.Vanta}
MODULE_FAILED = {"count": 0xFFFFFFFF, "register": 0, "reading": FAILED_READING}

CASES = [(family, face) for family, shape in FAMILIES.items()
         for face in ("pykorvane", "module") if face == "pykorvane" or shape[3] is not None]


@pytest.mark.parametrize("family, face", CASES)
def test_a_late_answer_is_never_another_calls_value(emu, family, face):
    product, setup, pk_calls, module_calls = FAMILIES[family]
    serial = "VT-0001" if product == "Vanta" else "DM-0001"
    if face == "pykorvane":
        dev = emu.add(product, serial=serial)
        model = PYKORVANE_CLASSES[product](serial=serial).open()
        calls = pk_calls
    else:
        model, dev = opened(emu, MODULE_CLASSES[product], product, serial)
        calls = module_calls
    setup(dev)
    failed = MODULE_FAILED.get(family)

    def outcome(call):
        try:
            return call(model)
        except pk.NoAnswerError:
            return failed

    dev.delay_next_answer(LATE_MS)
    assert outcome(calls[0][0]) == failed  # its answer is the late one
    taken, wrong = 0, []
    until = time.monotonic() + LATE_MS / 1000 + 1.0
    while time.monotonic() < until:
        for call, right in calls:
            got = outcome(call)
            taken += got == right
            if got not in (right, failed):
                wrong.append(got)
    assert wrong == []
    assert taken > 10
    if face == "pykorvane":
        model.close()
