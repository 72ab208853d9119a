"""A bench engineer's tests, written once for CI and for the bench.

The pykorvane pytest plugin provides the devices::

    python3 -m pytest examples/bench_test_example.py                     # emulated devices
    python3 -m pytest examples/bench_test_example.py --korvane-hardware  # the real bench
    python3 -m pytest examples/bench_test_example.py --korvane-hardware --korvane-dmm DM-0042

A device missing from the bench is an error with --korvane-hardware
(--korvane-missing=skip skips its tests instead).

The bench: a jumper from Vanta pin 5 to pin 6, the DMM on the 5 V rail, the
device under test powered from hub port 3. On emulated devices the jumper is
played by the test (it applies pin 5's level to pin 6 from outside).
"""
import pytest

DRIVE_PIN, SENSE_PIN = 5, 6
DUT_PORT = 3
LEVEL_ATTRIBUTE = 0x1203  # the Vanta's GPIO level mask


@pytest.fixture
def jumper(request, korvane_vanta, korvane_hardware):
    """Sets pin 5 up as output and pin 6 as input; returns settle(), called
    after driving pin 5 so that pin 6 sees its level."""
    korvane_vanta.gpio.mode(DRIVE_PIN, "output")
    korvane_vanta.gpio.mode(SENSE_PIN, "input")
    if korvane_hardware:
        return lambda: None  # the wire carries the level by itself
    board = request.getfixturevalue("korvane_emulator").vanta

    def settle():
        # The level pin 5 drives, as the emulated board holds it.
        levels = int.from_bytes(board.get_attribute(LEVEL_ATTRIBUTE), "little")
        driven = levels >> DRIVE_PIN & 1
        board.set_gpio_external(1 << SENSE_PIN, driven << SENSE_PIN)
    return settle


@pytest.mark.parametrize("level", [True, False, True])
def test_pin_loop_back(korvane_vanta, jumper, level):
    korvane_vanta.gpio.write(DRIVE_PIN, level)
    jumper()
    assert korvane_vanta.gpio.read(SENSE_PIN) is level


def test_rail_voltage_and_current_in_range(korvane_dmm):
    assert 4.75 <= korvane_dmm.voltage <= 5.25
    assert 0.0 <= korvane_dmm.current <= 0.5


def test_dut_port_switches_alone(korvane_hub):
    korvane_hub.port_on(DUT_PORT)
    others = korvane_hub.port_mask & ~(1 << (DUT_PORT - 1))
    korvane_hub.port_off(DUT_PORT)
    assert not korvane_hub.is_port_on(DUT_PORT)
    korvane_hub.port_on(DUT_PORT)
    assert korvane_hub.is_port_on(DUT_PORT)
    assert korvane_hub.port_mask & ~(1 << (DUT_PORT - 1)) == others


def test_sensor_drop_shows_on_the_meter(korvane_emulator, korvane_dmm):
    """Emulator only: a browned-out rail is caught by the range check."""
    korvane_emulator.dmm.set_reading(0x8101, 4.2)
    assert not 4.75 <= korvane_dmm.voltage <= 5.25
