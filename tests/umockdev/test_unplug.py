"""Unplug and replug on the hidraw path: a device that goes away fails the
calls on it at once, on both faces, and opens again on its new node."""
import threading

import pykorvane
import pytest

FAILURE = {"pykorvane": pykorvane.DeviceGoneError, "korvane": -999.9000244140625}
# The wait bound is 1 s; a hang-up ends a waiting call within milliseconds.
AT_ONCE_S = 0.5


def voltage(meter):
    """The reading on either face: the value, pykorvane's exception type or
    the module's failure value."""
    if isinstance(meter, pykorvane.Dmm):
        try:
            return meter.voltage
        except pykorvane.KorvaneError as failure:
            return type(failure)
    return meter.getVoltage()


def is_open(meter):
    return meter.is_open if isinstance(meter, pykorvane.Dmm) else meter.isConnected()


@pytest.mark.parametrize("face", FAILURE)
def test_unplug_between_calls(opened, bed, face):
    meter, device = opened("DMM", face)
    assert voltage(meter) == 5.0
    bed.unplug(device)
    assert (voltage(meter), is_open(meter)) == (FAILURE[face], False)


@pytest.mark.parametrize("face", FAILURE)
def test_unplug_during_a_wait(opened, bed, face):
    meter, device = opened("DMM", face)
    device.silent = True
    device.request_seen.clear()
    result = []
    caller = threading.Thread(target=lambda: result.append(voltage(meter)))
    caller.start()
    assert device.request_seen.wait(5)
    bed.unplug(device)
    caller.join(AT_ONCE_S)
    ended_at_once = not caller.is_alive()
    caller.join(5)
    assert (ended_at_once, result) == (True, [FAILURE[face]])


@pytest.mark.parametrize("face,call_first", [
    ("pykorvane", True), ("korvane", True), ("korvane", False), ("pykorvane", False)])
def test_replug_on_a_new_node_and_reopen(opened, bed, face, call_first):
    meter, device = opened("DMM", face)
    device.firmware.set_reading(0x8101, 2.5)
    old_path = device.path
    bed.unplug(device)
    if call_first:
        assert voltage(meter) == FAILURE[face]
    bed.replug(device)
    assert device.path != old_path
    if face == "pykorvane":
        assert meter.open().info.path == device.path
    else:
        assert meter.open() is False
    assert voltage(meter) == 2.5  # the same firmware, through the new node
