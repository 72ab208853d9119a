"""The module's function table and constants: names, order, kinds."""
import types

import pytest

import _korvane as K

# The function groups of the module, each in the order the module registers
# it, the groups themselves in table order.
GROUPS = [
    ("frame", ["SWIG_PyInstanceMethod_New"]),
    ("SwigPyIterator", [
        "delete_SwigPyIterator", "SwigPyIterator_value", "SwigPyIterator_incr",
        "SwigPyIterator_decr", "SwigPyIterator_distance", "SwigPyIterator_equal",
        "SwigPyIterator_copy", "SwigPyIterator_next", "SwigPyIterator___next__",
        "SwigPyIterator_previous", "SwigPyIterator_advance", "SwigPyIterator___eq__",
        "SwigPyIterator___ne__", "SwigPyIterator___iadd__", "SwigPyIterator___isub__",
        "SwigPyIterator___add__", "SwigPyIterator___sub__", "SwigPyIterator_swigregister"]),
    ("StringVector", [
        "StringVector_iterator", "StringVector___nonzero__", "StringVector___bool__",
        "StringVector___len__", "StringVector___getslice__", "StringVector___setslice__",
        "StringVector___delslice__", "StringVector___delitem__", "StringVector___getitem__",
        "StringVector___setitem__", "StringVector_pop", "StringVector_append",
        "StringVector_empty", "StringVector_size", "StringVector_swap", "StringVector_begin",
        "StringVector_end", "StringVector_rbegin", "StringVector_rend", "StringVector_clear",
        "StringVector_get_allocator", "StringVector_pop_back", "StringVector_erase",
        "new_StringVector", "StringVector_push_back", "StringVector_front",
        "StringVector_back", "StringVector_assign", "StringVector_resize",
        "StringVector_insert", "StringVector_reserve", "StringVector_capacity",
        "delete_StringVector", "StringVector_swigregister", "StringVector_swiginit"]),
    ("hid_device_info", [
        "hid_device_info_path_set", "hid_device_info_path_get",
        "hid_device_info_vendor_id_set", "hid_device_info_vendor_id_get",
        "hid_device_info_product_id_set", "hid_device_info_product_id_get",
        "hid_device_info_serial_number_set", "hid_device_info_serial_number_get",
        "hid_device_info_release_number_set", "hid_device_info_release_number_get",
        "hid_device_info_manufacturer_string_set", "hid_device_info_manufacturer_string_get",
        "hid_device_info_product_string_set", "hid_device_info_product_string_get",
        "hid_device_info_usage_page_set", "hid_device_info_usage_page_get",
        "hid_device_info_usage_set", "hid_device_info_usage_get",
        "hid_device_info_interface_number_set", "hid_device_info_interface_number_get",
        "hid_device_info_next_set", "hid_device_info_next_get",
        "new_hid_device_info", "delete_hid_device_info",
        "hid_device_info_swigregister", "hid_device_info_swiginit"]),
    ("hid functions", [
        "hid_init", "hid_exit", "hid_enumerate", "hid_free_enumeration", "hid_open",
        "hid_open_path", "hid_write", "hid_read_timeout", "hid_read", "hid_set_nonblocking",
        "hid_send_feature_report", "hid_get_feature_report", "hid_close",
        "hid_get_manufacturer_string", "hid_get_product_string",
        "hid_get_serial_number_string", "hid_get_indexed_string", "hid_error"]),
    ("KorDevice", [
        "new_KorDevice", "delete_KorDevice", "KorDevice_open", "KorDevice_isOpen",
        "KorDevice_close", "KorDevice_write", "KorDevice_read", "KorDevice_swigregister",
        "KorDevice_swiginit"]),
    ("KorDeviceManager", [
        "new_KorDeviceManager", "delete_KorDeviceManager", "KorDeviceManager_updateDeviceList",
        "KorDeviceManager_getDeviceNum", "KorDeviceManager_getDeviceList",
        "KorDeviceManager_getSerialList", "KorDeviceManager_getPathByName",
        "KorDeviceManager_getPathByNameAndSerial", "KorDeviceManager_swigregister",
        "KorDeviceManager_swiginit", "convertWcharToString"]),
    ("korPacket", [
        "korPacket_dat_set", "korPacket_dat_get", "new_korPacket", "delete_korPacket",
        "korPacket_swigregister", "korPacket_swiginit"]),
    ("Attvalue", [
        "new_Attvalue", "Attvalue_setValue", "Attvalue_getValueUint8", "Attvalue_getValueInt8",
        "Attvalue_getValueUint16", "Attvalue_getValueInt16", "Attvalue_getValueUint32",
        "Attvalue_getValueInt32", "Attvalue_getValueUint64", "Attvalue_getValueInt64",
        "Attvalue_getValueStr", "Attvalue_getValueU8str", "Attvalue_getValueFloat",
        "Attvalue_getValueDouble", "Attvalue_getValueLength", "delete_Attvalue",
        "Attvalue_swigregister", "Attvalue_swiginit"]),
    ("Attribute", [
        "new_Attribute", "Attribute_getAttid", "delete_Attribute", "Attribute_swigregister",
        "Attribute_swiginit"]),
    ("KorService", [
        "new_KorService", "delete_KorService", "KorService_writeAttribute",
        "KorService_readAttribute", "KorService_swigregister", "KorService_swiginit"]),
    ("KorCore", [
        "new_KorCore", "delete_KorCore", "KorCore_openPath", "KorCore_close",
        "KorCore_isConnected", "KorCore_getVendorName", "KorCore_getProductName",
        "KorCore_getProductRevision", "KorCore_getProductSerial", "KorCore_getFirmVersion",
        "KorCore_swigregister", "KorCore_swiginit"]),
    ("Vanta", [
        "new_Vanta", "delete_Vanta", "Vanta_open", "Vanta_gpiohw_set", "Vanta_gpiohw_get",
        "Vanta_adchw_set", "Vanta_adchw_get", "Vanta_i2chw_set", "Vanta_i2chw_get",
        "Vanta_swigregister", "Vanta_swiginit"]),
    ("Brondel", [
        "new_Brondel", "delete_Brondel", "Brondel_open", "Brondel_enableAllUsbPort",
        "Brondel_enableUsbPort", "Brondel_disableAllUsbPort", "Brondel_disableUsbPort",
        "Brondel_getUsbPortStatus", "Brondel_gpiohw_set", "Brondel_gpiohw_get",
        "Brondel_swigregister", "Brondel_swiginit"]),
    ("Dmm", [
        "new_Dmm", "delete_Dmm", "Dmm_i2chw_set", "Dmm_i2chw_get", "Dmm_open",
        "Dmm_calibration", "Dmm_getCalibrationData", "Dmm_getVoltage", "Dmm_getCurrent",
        "Dmm_showReg", "Dmm_getDieID", "Dmm_swigregister", "Dmm_swiginit"]),
    ("Adc", ["new_Adc", "delete_Adc", "Adc_value", "Adc_swigregister", "Adc_swiginit"]),
    ("AdcHw", ["new_AdcHw", "delete_AdcHw", "AdcHw_analogRead", "AdcHw_swigregister",
               "AdcHw_swiginit"]),
    ("GpioHw", [
        "new_GpioHw", "delete_GpioHw", "GpioHw_pinMode", "GpioHw_write", "GpioHw_read",
        "GpioHw_digitalWrite", "GpioHw_digitalRead", "GpioHw_swigregister",
        "GpioHw_swiginit"]),
    ("I2cHw", [
        "new_I2cHw", "delete_I2cHw", "I2cHw_setI2cDeviceAddr", "I2cHw_write2byte",
        "I2cHw_read2byte", "I2cHw_swigregister", "I2cHw_swiginit"]),
    ("Pin", [
        "new_Pin", "delete_Pin", "Pin_mode", "Pin_value", "Pin_on", "Pin_off",
        "Pin_swigregister", "Pin_swiginit"]),
]

ALL_FUNCTIONS = [name for _, names in GROUPS for name in names]

CONSTANTS = [
    ("BUF_LEN", 65), ("MAX_STR", 255), ("DEFAULT_DEALY", 10), ("USB_VID_PIC", 0x04D8),
    ("USB_PID_PIC", 0xECD0), ("USB_VID_ARDUINO", 0x2341), ("USB_PID_ARDUINO", 0x8036),
    ("USB_VID_NUM_MAX", 1), ("PROTOCOL_VERSION", 0),
    ("OP_METADATA_GET", 0x10), ("OP_CONFIG_SET", 0x11), ("OP_ATT_VALUE_SET", 0x12),
    ("OP_ATT_VALUE_GET", 0x13), ("EVT_NOTIFY", 0xA0),
    ("RC_FAIL", 0), ("RC_OK", 1),
    ("VALUE_LEN", 32),
    ("ATT_VENDOR_NAME", 0), ("ATT_PRODUCT_NAME", 1), ("ATT_PRODUCT_REVISION", 2),
    ("ATT_PRODUCT_SERIAL", 3), ("ATT_FIRM_VERSION", 4),
    ("PERMISSION_NONE", 0), ("PERMISSION_READABLE", 1), ("PERMISSION_WRITABLE", 2),
    ("PERMISSION_READABLE_WRITABLE", 3),
    ("PROPERTY_READ", 1), ("PROPERTY_WRITE", 2), ("PROPERTY_NOTIFY", 4),
    ("ATT_GPIO0_BASE", 0x1200), ("ATT_ADC_BASE", 0x1300), ("ATT_IC20_BASE", 0x1400),
    ("ATT_USB_PORT_CTRL", 0x8000), ("ATT_CALIBRATION", 0x8100), ("ATT_VOLTAGE", 0x8101),
    ("ATT_CURRENT", 0x8102),
    ("ATT_GPIO_INOUT_MODE", 0), ("ATT_GPIO_PULL_UP", 1), ("ATT_GPIO_PULL_DOWN", 2),
    ("ATT_GPIO_RW", 3),
    ("OUTPUT_PIN", 0), ("INPUT_PIN", 1), ("INPUT_PULLUP_PIN", 2), ("INPUT_PULLDOWN_PIN", 3),
    ("HIGH", 1), ("LOW", 0),
    ("ATT_I2C_DEVICE_ADDR", 0), ("ATT_I2C_REG_ADDR", 1), ("ATT_I2C_RW_1BYTE", 2),
    ("ATT_I2C_RW_2BYTE", 3), ("ATT_I2C_RW_3BYTE", 4), ("ATT_I2C_RW_4BYTE", 5),
]


def module_functions():
    return [name for name, value in vars(K).items() if callable(value)]


def test_the_list_above_counts_235_functions_and_52_constants():
    assert len(ALL_FUNCTIONS) == len(set(ALL_FUNCTIONS)) == 235
    assert len(CONSTANTS) == 52


def test_module_holds_exactly_the_published_functions_in_table_order():
    assert module_functions() == ALL_FUNCTIONS


def test_functions_are_builtins_without_documentation():
    for name in ALL_FUNCTIONS:
        function = getattr(K, name)
        assert isinstance(function, types.BuiltinFunctionType), name
        assert function.__doc__ is None, name


def test_module_holds_exactly_the_constants_in_order_as_plain_ints():
    published = [(name, value) for name, value in vars(K).items()
                 if not name.startswith("__") and not callable(value)]
    assert published == CONSTANTS
    assert all(type(value) is int for _, value in published)


@pytest.mark.parametrize("name", [
    "PinMode", "OperationCode", "ReturnCode", "AttributionPermission", "AttributionProperty",
    "AttGpioHw", "AttI2cHw", "cvar", "SWIG_PyStaticMethod_New"])
def test_names_the_module_does_not_publish(name):
    assert not hasattr(K, name)


def test_constant_relations():
    assert K.ATT_VOLTAGE == K.ATT_CALIBRATION + 1 and K.ATT_CURRENT == K.ATT_CALIBRATION + 2
    assert K.PERMISSION_READABLE_WRITABLE == K.PERMISSION_READABLE | K.PERMISSION_WRITABLE


def test_module_has_no_documentation_and_its_name():
    assert K.__name__ == "_korvane"
    assert K.__doc__ is None


@pytest.mark.parametrize("function, count", [
    (K.hid_init, 0), (K.new_KorDevice, 0),
    (K.hid_close, 1), (K.KorDevice_isOpen, 1), (K.delete_korPacket, 1),
    (K.korPacket_swigregister, 1), (K.SWIG_PyInstanceMethod_New, 1)])
def test_fixed_arity_functions_are_checked_by_the_interpreter(function, count):
    with pytest.raises(TypeError, match="takes (no|exactly one) argument"):
        function(*([None] * (count + 1)))


def test_no_function_takes_keyword_arguments():
    with pytest.raises(TypeError):
        K.hid_open(vendor_id=1, product_id=2, serial_number=None)


def test_proxy_module_imports_and_leaves_the_module_unchanged():
    import korvane
    assert korvane._korvane is K
    assert module_functions() == ALL_FUNCTIONS
    assert korvane.BUF_LEN == 65
