"""Argument unpacking and conversion, overload dispatch and result
conversion, with their exact messages."""
import pytest

import _korvane as K
import korvane


@pytest.fixture
def service():
    device = K.new_KorDevice()
    service = K.new_KorService(device)
    yield service
    K.delete_KorService(service)
    K.delete_KorDevice(device)


@pytest.fixture
def gpio(service):
    block = K.new_GpioHw(service, K.ATT_GPIO0_BASE)
    yield block
    K.delete_GpioHw(block)


def raises(kind, call):
    with pytest.raises(kind) as error:
        call()
    assert type(error.value) is kind
    return str(error.value)


# ---- unpacking --------------------------------------------------------------------

@pytest.mark.parametrize("args, message", [
    ((1, 2), "hid_open expected 3 arguments, got 2"),
    ((1, 2, None, 4), "hid_open expected 3 arguments, got 4"),
    ((), "hid_open expected 3 arguments, got 0"),
])
def test_fixed_count_unpacking(args, message):
    assert raises(TypeError, lambda: K.hid_open(*args)) == message


@pytest.mark.parametrize("call, message", [
    (lambda: K.StringVector___getitem__(K.new_StringVector(), 1, 2),
     "StringVector___getitem__ expected at most 2 arguments, got 3"),
    (lambda: K.KorDevice_open(1, 2, 3, 4, 5), "KorDevice_open expected at most 4 arguments, got 5"),
    (lambda: K.Attvalue_setValue(1, 2, 3, 4), "Attvalue_setValue expected at most 3 arguments, got 4"),
])
def test_too_many_arguments_to_overloaded_functions_keep_the_plain_message(call, message):
    assert raises(TypeError, call) == message


# ---- argument conversion ------------------------------------------------------------

HID_OPEN_1 = "in method 'hid_open', argument 1 of type 'unsigned short'"


@pytest.mark.parametrize("value, kind", [
    (65536, OverflowError), (-1, OverflowError), (1.0, TypeError), ("1", TypeError),
    (None, TypeError), (2 ** 70, OverflowError)])
def test_unsigned_short_refusals(value, kind):
    assert raises(kind, lambda: K.hid_open(value, 1, None)) == HID_OPEN_1


@pytest.mark.parametrize("value", [0, 65535, True])
def test_unsigned_short_accepted(value):
    assert K.hid_open(value, 0xFFFF, None) is None  # no such device


def test_conversion_of_a_later_argument_follows_the_first():
    assert raises(TypeError, lambda: K.hid_open(1, 2, "serial")) == \
        "in method 'hid_open', argument 3 of type 'wchar_t const *'"
    assert raises(OverflowError, lambda: K.hid_open(1, 70000, "serial")) == \
        "in method 'hid_open', argument 2 of type 'unsigned short'"


@pytest.mark.parametrize("args, kind, message", [
    ((3, 1), TypeError, "in method 'GpioHw_digitalWrite', argument 3 of type 'bool'"),
    ((3, K.HIGH), TypeError, "in method 'GpioHw_digitalWrite', argument 3 of type 'bool'"),
    ((3, None), TypeError, "in method 'GpioHw_digitalWrite', argument 3 of type 'bool'"),
    ((256, True), OverflowError, "in method 'GpioHw_digitalWrite', argument 2 of type 'uint8_t'"),
    ((-1, True), OverflowError, "in method 'GpioHw_digitalWrite', argument 2 of type 'uint8_t'"),
    (("3", True), TypeError, "in method 'GpioHw_digitalWrite', argument 2 of type 'uint8_t'"),
])
def test_bool_and_uint8_arguments(gpio, args, kind, message):
    assert raises(kind, lambda: K.GpioHw_digitalWrite(gpio, *args)) == message


def test_bool_accepts_exactly_true_and_false(gpio):
    assert K.GpioHw_digitalWrite(gpio, 3, True) is True  # device closed: failure
    assert K.GpioHw_digitalWrite(gpio, 3, False) is True


@pytest.mark.parametrize("call, kind, message", [
    (lambda g: K.GpioHw_write(g, 2 ** 32), OverflowError,
     "in method 'GpioHw_write', argument 2 of type 'uint32_t'"),
    (lambda g: K.GpioHw_write(g, -1), OverflowError,
     "in method 'GpioHw_write', argument 2 of type 'uint32_t'"),
    (lambda g: K.GpioHw_pinMode(g, 0, 2 ** 31), OverflowError,
     "in method 'GpioHw_pinMode', argument 3 of type 'PinMode'"),
    (lambda g: K.GpioHw_pinMode(g, 0, -2 ** 31 - 1), OverflowError,
     "in method 'GpioHw_pinMode', argument 3 of type 'PinMode'"),
    (lambda g: K.GpioHw_pinMode(g, 0, 0.0), TypeError,
     "in method 'GpioHw_pinMode', argument 3 of type 'PinMode'"),
    (lambda g: K.new_GpioHw(None, 2 ** 31), OverflowError,
     "in method 'new_GpioHw', argument 2 of type 'int'"),
    (lambda g: K.GpioHw_read(5), TypeError, "in method 'GpioHw_read', argument 1 of type 'GpioHw *'"),
])
def test_integer_widths_and_kinds(gpio, call, kind, message):
    assert raises(kind, lambda: call(gpio)) == message


def test_pin_mode_takes_any_int(gpio):
    assert K.GpioHw_pinMode(gpio, 0, 2 ** 31 - 1) is True
    assert K.GpioHw_pinMode(gpio, 0, -2 ** 31) is True


@pytest.mark.parametrize("call, kind, message", [
    (lambda: K.new_Attribute(65536, 0, 0), OverflowError,
     "in method 'new_Attribute', argument 1 of type 'uint16_t'"),
    (lambda: K.new_Attribute(1, 256, 0), OverflowError,
     "in method 'new_Attribute', argument 2 of type 'uint8_t'"),
    (lambda: K.new_Attribute(1, 0, -1), OverflowError,
     "in method 'new_Attribute', argument 3 of type 'uint8_t'"),
    (lambda: K.KorCore_openPath(K.new_KorCore(), 5), TypeError,
     "in method 'KorCore_openPath', argument 2 of type 'char const *'"),
    (lambda: K.KorCore_openPath(K.new_KorCore(), "\udcff"), TypeError,
     "in method 'KorCore_openPath', argument 2 of type 'char const *'"),
    (lambda: K.KorDeviceManager_getPathByName(K.new_KorDeviceManager(), None), TypeError,
     "in method 'KorDeviceManager_getPathByName', argument 2 of type 'std::string'"),
    (lambda: K.Vanta_open(K.new_Vanta(), None), TypeError,
     "in method 'Vanta_open', argument 2 of type 'std::string'"),
    (lambda: K.KorDevice_read(K.new_KorDevice(), b"\0" * 65), TypeError,
     "in method 'KorDevice_read', argument 2 of type 'uint8_t *'"),
    (lambda: K.KorDevice_read(K.new_KorDevice(), bytearray(65)), TypeError,
     "in method 'KorDevice_read', argument 2 of type 'uint8_t *'"),
    (lambda: K.korPacket_dat_set(K.new_korPacket(), None), ValueError,
     "invalid null reference in variable 'dat' of type 'uint8_t [65]'"),
    (lambda: K.korPacket_dat_set(K.new_korPacket(), 5), TypeError,
     "in method 'korPacket_dat_set', argument 2 of type 'uint8_t [65]'"),
    (lambda: K.korPacket_dat_set(K.new_korPacket(), K.new_Attvalue()), TypeError,
     "in method 'korPacket_dat_set', argument 2 of type 'uint8_t [65]'"),
    (lambda: K.StringVector_append(K.new_StringVector(), None), ValueError,
     "invalid null reference in method 'StringVector_append', argument 2 of type "
     "'std::vector< std::string >::value_type const &'"),
    (lambda: K.SwigPyIterator_distance(K.StringVector_begin(K.new_StringVector()), None), ValueError,
     "invalid null reference in method 'SwigPyIterator_distance', argument 2 of type "
     "'swig::SwigPyIterator const &'"),
])
def test_conversion_table_messages(call, kind, message):
    assert raises(kind, call) == message


def test_attribute_arguments_of_the_service_refuse_none(service):
    assert raises(ValueError, lambda: K.KorService_writeAttribute(service, None)) == \
        "invalid null reference in method 'KorService_writeAttribute', argument 2 of type 'Attribute'"
    assert raises(TypeError, lambda: K.KorService_readAttribute(service, None)) == \
        "in method 'KorService_readAttribute', argument 2 of type 'Attribute *'"


def test_pointer_and_string_arguments_take_none_and_char_pointers():
    device = K.new_KorDevice()
    assert K.KorDevice_read(device, None) == -1  # closed link, null buffer: failure result
    assert K.KorCore_openPath(K.new_KorCore(), None) is True
    assert K.KorDevice_open(device, 1, 2, None) is True


# ---- refused None (the library would dereference it) ----------------------------------

@pytest.mark.parametrize("call, message", [
    (lambda: K.KorDevice_isOpen(None), "in method 'KorDevice_isOpen', argument 1 of type 'KorDevice *'"),
    (lambda: K.Attvalue_getValueUint8(None),
     "in method 'Attvalue_getValueUint8', argument 1 of type 'Attvalue *'"),
    (lambda: K.StringVector_size(None),
     "in method 'StringVector_size', argument 1 of type 'std::vector< std::string > const *'"),
    (lambda: K.new_KorService(None), "in method 'new_KorService', argument 1 of type 'KorDevice *'"),
    (lambda: K.new_GpioHw(None, 0x1200), "in method 'new_GpioHw', argument 1 of type 'KorService *'"),
    (lambda: K.new_AdcHw(None, 0x1300), "in method 'new_AdcHw', argument 1 of type 'KorService *'"),
    (lambda: K.new_I2cHw(None, 0x1400), "in method 'new_I2cHw', argument 1 of type 'KorService *'"),
    (lambda: K.new_Pin(None, 3), "in method 'new_Pin', argument 1 of type 'Vanta *'"),
    (lambda: K.new_Pin(None, 3, 0), "in method 'new_Pin', argument 1 of type 'Vanta *'"),
    (lambda: K.new_Adc(None, 3), "in method 'new_Adc', argument 1 of type 'Vanta *'"),
    (lambda: K.Vanta_gpiohw_set(K.new_Vanta(), None),
     "in method 'Vanta_gpiohw_set', argument 2 of type 'GpioHw *'"),
    (lambda: K.Vanta_adchw_set(K.new_Vanta(), None),
     "in method 'Vanta_adchw_set', argument 2 of type 'AdcHw *'"),
    (lambda: K.Vanta_i2chw_set(K.new_Vanta(), None),
     "in method 'Vanta_i2chw_set', argument 2 of type 'I2cHw *'"),
    (lambda: K.Brondel_gpiohw_set(K.new_Brondel(), None),
     "in method 'Brondel_gpiohw_set', argument 2 of type 'GpioHw *'"),
    (lambda: K.Dmm_i2chw_set(K.new_Dmm(), None), "in method 'Dmm_i2chw_set', argument 2 of type 'I2cHw *'"),
    (lambda: K.Vanta_gpiohw_get(None), "in method 'Vanta_gpiohw_get', argument 1 of type 'Vanta *'"),
])
def test_none_where_the_library_would_dereference_it(call, message):
    assert raises(TypeError, call) == message


def test_none_object_for_setters_and_destructors_does_nothing():
    assert K.Vanta_gpiohw_set(None, K.Vanta_gpiohw_get(K.new_Vanta())) is None
    assert K.delete_Attvalue(None) is None


def test_block_setter_copies_the_block():
    board, other = korvane.Vanta(), korvane.Vanta()
    board.gpiohw = other.gpiohw
    assert K.GpioHw_read(board.gpiohw) == 0xFFFFFFFF  # closed device: failure value


# ---- overload dispatch ------------------------------------------------------------------

def overload_text(name, prototypes):
    return ("Wrong number or type of arguments for overloaded function '%s'.\n"
            "  Possible C/C++ prototypes are:\n" % name) + "".join("    %s\n" % p for p in prototypes)


@pytest.mark.parametrize("call, name, prototypes", [
    (lambda: K.KorDevice_open(K.new_KorDevice(), 65536, 1), "KorDevice_open",
     ["KorDevice::open(uint16_t,uint16_t)", "KorDevice::open(uint16_t,uint16_t,wchar_t *)",
      "KorDevice::open(char const *)"]),
    (lambda: K.KorDevice_open(K.new_KorDevice()), "KorDevice_open",
     ["KorDevice::open(uint16_t,uint16_t)", "KorDevice::open(uint16_t,uint16_t,wchar_t *)",
      "KorDevice::open(char const *)"]),
    (lambda: K.KorDeviceManager_getDeviceNum(K.new_KorDeviceManager(), 5),
     "KorDeviceManager_getDeviceNum",
     ["KorDeviceManager::getDeviceNum()", "KorDeviceManager::getDeviceNum(std::string)"]),
    (lambda: K.Vanta_open(K.new_Vanta(), 5), "Vanta_open", ["Vanta::open()", "Vanta::open(std::string)"]),
    (lambda: K.Brondel_open(K.new_Brondel(), 5), "Brondel_open",
     ["Brondel::open()", "Brondel::open(std::string)"]),
    (lambda: K.Dmm_open(K.new_Dmm(), 5), "Dmm_open", ["Dmm::open()", "Dmm::open(std::string)"]),
    (lambda: K.new_Pin(K.new_Vanta(), 256), "new_Pin",
     ["Pin::Pin(Vanta *,uint8_t)", "Pin::Pin(Vanta *,uint8_t,PinMode)"]),
    (lambda: K.Pin_value(K.new_Pin(K.new_Vanta(), 3), 1), "Pin_value", ["Pin::value()", "Pin::value(bool)"]),
    (lambda: K.Attvalue_setValue(K.new_Attvalue(), b"x"), "Attvalue_setValue",
     ["Attvalue::setValue(uint8_t)", "Attvalue::setValue(int8_t)", "Attvalue::setValue(uint16_t)",
      "Attvalue::setValue(int16_t)", "Attvalue::setValue(uint32_t)", "Attvalue::setValue(int32_t)",
      "Attvalue::setValue(uint64_t)", "Attvalue::setValue(int64_t)", "Attvalue::setValue(char *)",
      "Attvalue::setValue(float)", "Attvalue::setValue(double)",
      "Attvalue::setValue(uint8_t *,uint8_t)"]),
    (lambda: K.SwigPyIterator_incr(K.StringVector_begin(K.new_StringVector()), -1), "SwigPyIterator_incr",
     ["swig::SwigPyIterator::incr(size_t)", "swig::SwigPyIterator::incr()"]),
    (lambda: K.SwigPyIterator_decr(K.StringVector_begin(K.new_StringVector()), "x"), "SwigPyIterator_decr",
     ["swig::SwigPyIterator::decr(size_t)", "swig::SwigPyIterator::decr()"]),
])
def test_overload_texts(call, name, prototypes):
    assert raises(TypeError, call) == overload_text(name, prototypes)


def test_overload_check_passes_none_then_the_candidate_refuses_it():
    assert raises(TypeError, lambda: K.Vanta_open(K.new_Vanta(), None)) == \
        "in method 'Vanta_open', argument 2 of type 'std::string'"
    assert K.KorDevice_open(K.new_KorDevice(), 0x04D8, 0xECD0, None) is True


def test_type_error_raised_while_checking_gets_the_overload_text_appended():
    class Unreadable:
        def __len__(self):
            return 1

        def __getitem__(self, index):
            raise TypeError("unreadable element")
    message = raises(TypeError, lambda: K.new_StringVector(Unreadable()))
    assert message.startswith("unreadable element\nAdditional information:\n")
    assert message.endswith("std::vector< std::string >::vector(std::vector< std::string >::size_type,"
                            "std::vector< std::string >::value_type const &)\n")


# ---- results ----------------------------------------------------------------------------

def test_char_pointer_result_decodes_with_surrogateescape():
    value = K.new_Attvalue()
    K.Attvalue_setValue(value, 0xFF66)  # bytes 66 FF
    assert K.Attvalue_getValueStr(value) == "f\udcff"


def test_std_string_result_decodes_with_surrogateescape():
    value = K.new_Attvalue()
    K.Attvalue_setValue(value, (0xE9 << 32) | 0x66)  # wide characters 'f' and U+00E9
    assert K.convertWcharToString(K.Attvalue_getValueU8str(value)) == "f\udce9"
    assert K.convertWcharToString(None) == ""


def test_list_results_are_tuples_of_str():
    assert K.KorDeviceManager_getSerialList(K.new_KorDeviceManager(), "nothing") == ()


def test_unsigned_results_are_never_negative(gpio):
    assert K.GpioHw_read(gpio) == 4294967295
