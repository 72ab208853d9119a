"""Attvalue, Attribute and the korPacket record through the module."""
import ctypes
import math

import pytest

import _korvane as K


def packet_bytes(packet):
    return ctypes.string_at(int(K.korPacket_dat_get(packet)), 65)


def fill_packet(packet, data):
    ctypes.memmove(int(K.korPacket_dat_get(packet)), bytes(data), len(data))


@pytest.fixture
def value():
    return K.new_Attvalue()


# ---- overload selection of setValue ------------------------------------------------------

@pytest.mark.parametrize("number, length, getter, expected", [
    (200, 1, K.Attvalue_getValueUint8, 200),
    (-1, 1, K.Attvalue_getValueInt8, -1),
    (-1, 1, K.Attvalue_getValueUint8, 255),
    (True, 1, K.Attvalue_getValueUint8, 1),
    (300, 2, K.Attvalue_getValueUint16, 300),
    (-300, 2, K.Attvalue_getValueInt16, -300),
    (70000, 4, K.Attvalue_getValueUint32, 70000),
    (-70000, 4, K.Attvalue_getValueInt32, -70000),
    (2 ** 40, 8, K.Attvalue_getValueUint64, 2 ** 40),
    (2 ** 64 - 1, 8, K.Attvalue_getValueUint64, 2 ** 64 - 1),
    (-2 ** 63, 8, K.Attvalue_getValueInt64, -2 ** 63),
    (2 ** 64, 4, K.Attvalue_getValueFloat, 2.0 ** 64),
    (0.1, 4, K.Attvalue_getValueFloat, 0.10000000149011612),
    (1e300, 8, K.Attvalue_getValueDouble, 1e300),
    (-1e39, 8, K.Attvalue_getValueDouble, -1e39),
    (10 ** 300, 8, K.Attvalue_getValueDouble, 1e300),
    (3.4028234663852886e38, 4, K.Attvalue_getValueFloat, 3.4028234663852886e38),
    (math.inf, 4, K.Attvalue_getValueFloat, math.inf),
    (6513249, 4, K.Attvalue_getValueStr, "abc"),
    ("", 0, K.Attvalue_getValueStr, ""),
    ("é", 2, K.Attvalue_getValueStr, "é"),
    ("x" * 31, 31, K.Attvalue_getValueStr, "x" * 31),
])
def test_set_value_picks_the_narrowest_type(value, number, length, getter, expected):
    assert K.Attvalue_setValue(value, number) is False
    assert K.Attvalue_getValueLength(value) == length
    assert getter(value) == expected


def test_nan_is_stored_as_float(value):
    assert K.Attvalue_setValue(value, math.nan) is False
    assert K.Attvalue_getValueLength(value) == 4 and math.isnan(K.Attvalue_getValueFloat(value))


@pytest.mark.parametrize("refused", [b"x", 10 ** 400, [1], object()])
def test_values_no_candidate_takes(value, refused):
    with pytest.raises(TypeError, match="^Wrong number or type of arguments for overloaded "
                                        "function 'Attvalue_setValue'"):
        K.Attvalue_setValue(value, refused)


def test_refused_strings_and_none_leave_the_value(value):
    K.Attvalue_setValue(value, 0x1234)
    assert K.Attvalue_setValue(value, "y" * 32) is True
    assert K.Attvalue_setValue(value, None) is True
    assert K.Attvalue_getValueLength(value) == 2 and K.Attvalue_getValueUint16(value) == 0x1234


def test_setters_write_only_their_own_bytes(value):
    K.Attvalue_setValue(value, 0x1234)
    K.Attvalue_setValue(value, 0x56)
    assert K.Attvalue_getValueUint16(value) == 0x1256
    assert K.Attvalue_getValueLength(value) == 1


def test_new_values_hold_one_zero_byte():
    for made in (K.new_Attvalue(), K.new_Attribute(0x8101, 0, 0)):
        assert K.Attvalue_getValueLength(made) == 1 and K.Attvalue_getValueUint8(made) == 0


# ---- the raw form with a packet's bytes ---------------------------------------------------------

def test_raw_bytes_from_a_packet(value):
    packet = K.new_korPacket()
    fill_packet(packet, range(1, 34))
    dat = K.korPacket_dat_get(packet)
    assert K.Attvalue_setValue(value, dat, 33) is True
    assert K.Attvalue_getValueLength(value) == 1
    assert K.Attvalue_setValue(value, dat, 32) is False
    assert K.Attvalue_getValueLength(value) == 32
    assert K.Attvalue_getValueStr(value) == bytes(range(1, 33)).decode()  # all 32, no zero
    assert K.Attvalue_getValueUint32(value) == 0x04030201


def test_raw_form_argument_checks(value):
    assert K.Attvalue_setValue(value, None, 4) is True  # null data: refused by the library
    with pytest.raises(TypeError) as error:
        K.Attvalue_setValue(value, K.korPacket_dat_get(K.new_korPacket()), 256)
    assert "Wrong number or type of arguments" in str(error.value)


def test_wide_string_view_of_the_storage(value):
    pointer = K.Attvalue_getValueU8str(value)
    assert repr(pointer).startswith("<Swig Object of type 'wchar_t *' at ")
    assert pointer.own() is False
    K.Attvalue_setValue(value, "x" * 31)
    assert K.convertWcharToString(K.Attvalue_getValueU8str(value)) != ""  # stays inside the storage


# ---- Attribute ------------------------------------------------------------------------------

def test_attribute_id_and_inherited_functions():
    attribute = K.new_Attribute(0x8101, 3, 7)
    assert K.Attribute_getAttid(attribute) == 33025
    assert K.Attvalue_setValue(attribute, 5.0) is False
    assert K.Attvalue_getValueFloat(attribute) == 5.0
    assert K.Attribute_getAttid(K.new_Attribute(65535, 255, 255)) == 65535


@pytest.mark.parametrize("args, message", [
    ((65536, 0, 0), "in method 'new_Attribute', argument 1 of type 'uint16_t'"),
    ((1, 256, 0), "in method 'new_Attribute', argument 2 of type 'uint8_t'"),
])
def test_attribute_construction_ranges(args, message):
    with pytest.raises(OverflowError) as error:
        K.new_Attribute(*args)
    assert str(error.value) == message


def test_new_attribute_takes_exactly_three_arguments():
    with pytest.raises(TypeError, match="new_Attribute expected 3 arguments, got 2"):
        K.new_Attribute(1, 0)


# ---- korPacket ------------------------------------------------------------------------------

def test_new_packet_is_65_zero_bytes():
    assert packet_bytes(K.new_korPacket()) == bytes(65)


def test_dat_set_copies_all_65_bytes():
    source, target = K.new_korPacket(), K.new_korPacket()
    fill_packet(source, range(100, 165))
    assert K.korPacket_dat_set(target, K.korPacket_dat_get(source)) is None
    assert packet_bytes(target) == bytes(range(100, 165))


def test_dat_points_into_the_packet_and_is_borrowed():
    packet = K.new_korPacket()
    dat = K.korPacket_dat_get(packet)
    assert int(dat) == int(packet) and dat.own() is False
    assert repr(dat).startswith("<Swig Object of type 'uint8_t *' at ")


@pytest.mark.parametrize("function", [K.korPacket_dat_get, K.delete_korPacket])
def test_packet_functions_refuse_other_objects(function):
    with pytest.raises(TypeError, match="argument 1 of type 'korPacket \\*'"):
        function(K.new_Attvalue())


def test_dat_set_refuses_none_as_the_packet():
    # SWIG's array copy does not test the object: None must not reach it.
    with pytest.raises(TypeError, match="in method 'korPacket_dat_set', argument 1 of type 'korPacket \\*'"):
        K.korPacket_dat_set(None, K.korPacket_dat_get(K.new_korPacket()))
