"""Pin and channel handles on an I/O board."""
import pytest

import _korvane as K
import korvane
from device_helpers import R, W, u32

INOUT, PULL_UP, LEVELS = (korvane.ATT_GPIO0_BASE + n for n in (0, 1, 3))
ADC = korvane.ATT_ADC_BASE


@pytest.fixture
def vanta(vanta):
    board, dev = vanta
    dev.set_attribute(INOUT, u32(0))  # all outputs: levels read back the latch
    return board, dev


def test_pin_with_mode_configures_at_construction(vanta):
    board, dev = vanta
    korvane.Pin(board, 3, korvane.OUTPUT_PIN)
    assert dev.requests() == [R(INOUT), W(INOUT, u32(0))]
    dev.clear_log()
    korvane.Pin(board, 3, korvane.INPUT_PULLUP_PIN)
    assert dev.requests() == [R(INOUT), R(PULL_UP), W(PULL_UP, u32(0x8)), W(INOUT, u32(0x8))]


def test_pin_without_mode_sends_nothing(vanta):
    board, dev = vanta
    korvane.Pin(board, 3)
    K.delete_Pin(K.new_Pin(board, 3))
    assert dev.requests() == []


@pytest.mark.parametrize("action, args, written", [
    ("on", (), 0x21),
    ("off", (), 0x01),
    ("value", (True,), 0x21),
    ("value", (False,), 0x01),
])
def test_pin_level_writes(vanta, action, args, written):
    board, dev = vanta
    dev.set_attribute(LEVELS, u32(0x01))
    pin = korvane.Pin(board, 5)
    assert getattr(pin, action)(*args) is False
    assert dev.requests() == [R(LEVELS), W(LEVELS, u32(written))]


@pytest.mark.parametrize("levels, expected", [(0x20, True), (0xDF, False)])
def test_pin_value_reads_the_level(vanta, levels, expected):
    board, dev = vanta
    dev.set_attribute(LEVELS, u32(levels))
    assert korvane.Pin(board, 5).value() is expected
    assert dev.requests() == [R(LEVELS)]


def test_pin_mode_returns_the_block_result(vanta):
    board, dev = vanta
    pin = korvane.Pin(board, 5)
    assert pin.mode(korvane.OUTPUT_PIN) is False
    assert pin.mode(korvane.INPUT_PULLDOWN_PIN) is True
    dev.fail_attribute(INOUT)
    assert pin.mode(korvane.OUTPUT_PIN) is True


@pytest.mark.parametrize("number", [32, 200, 255])
def test_pin_beyond_the_mask_fails_without_traffic(vanta, number):
    board, dev = vanta
    pin = korvane.Pin(board, number, korvane.OUTPUT_PIN)
    assert pin.on() is True
    assert pin.off() is True
    assert pin.value(True) is True
    assert pin.value() is True
    assert pin.mode(korvane.INPUT_PIN) is True
    assert dev.requests() == []


def test_pin_value_needs_a_python_bool(vanta):
    board, _ = vanta
    pin = K.new_Pin(board, 5)
    try:
        with pytest.raises(TypeError) as error:
            K.Pin_value(pin, 1)
        assert str(error.value).startswith(
            "Wrong number or type of arguments for overloaded function 'Pin_value'.")
    finally:
        K.delete_Pin(pin)


def test_flat_pin_functions(vanta):
    board, dev = vanta
    pin = K.new_Pin(board, 2, korvane.OUTPUT_PIN)
    try:
        assert K.Pin_on(pin) is False
        assert K.Pin_value(pin) is True
        assert K.Pin_off(pin) is False
        assert K.Pin_value(pin) is False
    finally:
        K.delete_Pin(pin)
    assert dev.get_attribute(LEVELS) == u32(0)


@pytest.mark.parametrize("value, expected", [(0x1234, 4660), (0x80000000, -2147483648), (0x7FFFFFFF, 2147483647)])
def test_channel_value_is_signed(vanta, value, expected):
    board, dev = vanta
    dev.set_adc(3, value)
    assert korvane.Adc(board, 3).value() == expected
    assert dev.requests() == [R(ADC + 3)]


def test_channel_failures(vanta):
    board, dev = vanta
    assert korvane.Adc(board, 8).value() == -1
    assert korvane.Adc(board, 255).value() == -1
    assert dev.requests() == []
    dev.fail_attribute(ADC + 1)
    assert korvane.Adc(board, 1).value() == -1


def test_handles_on_a_closed_board_fail(emu):
    board = korvane.Vanta()
    assert korvane.Pin(board, 1).on() is True
    assert korvane.Pin(board, 1).value() is True
    assert korvane.Adc(board, 1).value() == -1


@pytest.mark.parametrize("make", [
    lambda: korvane.Pin(None, 3),
    lambda: korvane.Pin(None, 3, korvane.OUTPUT_PIN),
    lambda: korvane.Adc(None, 1),
    lambda: K.new_Pin(None, 3),
    lambda: K.new_Adc(None, 1),
])
def test_handles_refuse_a_missing_board(make):
    with pytest.raises((TypeError, ValueError)):
        make()
