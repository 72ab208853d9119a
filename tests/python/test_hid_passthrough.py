"""hidapi's functions and enumeration record, passed through the module,
against emulated devices."""
import ctypes

import pytest

import _korvane as K
from korvane import hid_device_info

VID, PID = 0x04D8, 0xECD0


def message(kind, call):
    with pytest.raises(kind) as error:
        call()
    assert type(error.value) is kind
    return str(error.value)


def walk(first):
    records = []
    while first is not None:
        records.append(first)
        first = K.hid_device_info_next_get(first)
    return records


def wide(pointer):
    return K.convertWcharToString(pointer)


@pytest.fixture
def listed(emu):
    """An enumeration of three interfaces: a Vanta with two, a DMM with one."""
    vanta = emu.add("Vanta", serial="VT-1")
    vanta.set_interfaces(2)
    emu.add("DMM", serial="DM-1")
    first = K.hid_enumerate(VID, PID)
    yield first, walk(first)
    try:
        K.hid_free_enumeration(first)
    except ValueError:
        pass  # the test freed it already (the module knows, and touches nothing)


@pytest.fixture
def handle(emu):
    device = emu.add("Vanta", serial="VT-1")
    opened = K.hid_open_path(device.path)
    assert opened is not None
    yield device, opened
    K.hid_close(opened)


@pytest.fixture
def packets():
    made = [K.new_korPacket() for _ in range(2)]
    return made, [K.korPacket_dat_get(p) for p in made]


def put(dat, data):
    ctypes.memmove(int(dat), bytes(data), len(data))


def get(dat, count=65):
    return ctypes.string_at(int(dat), count)


# ---- enumeration ------------------------------------------------------------------------------

def test_enumeration_without_devices_is_none(emu):
    assert K.hid_enumerate(VID, PID) is None


@pytest.mark.parametrize("value, kind", [(65536, OverflowError), (-1, OverflowError), ("x", TypeError)])
def test_enumerate_argument_checks(value, kind):
    assert message(kind, lambda: K.hid_enumerate(value, 0)) == \
        "in method 'hid_enumerate', argument 1 of type 'unsigned short'"


def test_walking_the_list_visits_every_record_once(listed):
    first, records = listed
    assert len(records) == 3 and len({int(r.this) for r in records}) == 3
    assert all(type(r) is hid_device_info and r.this.own() is False for r in records)
    assert [wide(r.product_string) for r in records] == ["Vanta", "Vanta", "DMM"]
    assert [wide(r.serial_number) for r in records] == ["VT-1", "VT-1", "DM-1"]
    assert [r.interface_number for r in records] == [0, 1, 0]
    assert all((r.vendor_id, r.product_id) == (VID, PID) for r in records)
    assert wide(records[0].manufacturer_string) == "Korvane Emulated"
    assert records[0].release_number == 0x0100
    assert (records[0].usage_page, records[0].usage) == (0xFF00, 1)
    assert records[1].path == records[0].path + ":1"
    assert K.hid_device_info_next_get(records[-1]) is None


def test_free_enumeration_takes_only_live_list_heads(listed):
    first, records = listed
    assert "not the first record" in message(ValueError, lambda: K.hid_free_enumeration(records[1]))
    assert "not the first record" in message(ValueError,
                                             lambda: K.hid_free_enumeration(K.new_hid_device_info()))
    assert K.hid_free_enumeration(first) is None
    assert "not the first record" in message(ValueError, lambda: K.hid_free_enumeration(first))
    assert K.hid_free_enumeration(None) is None


def test_records_of_a_list_keep_what_hidapi_frees(listed):
    first, records = listed
    for call in (lambda: K.delete_hid_device_info(records[1]),
                 lambda: K.hid_device_info_path_set(records[1], "/elsewhere"),
                 lambda: K.hid_device_info_path_set(records[1], None),
                 lambda: K.hid_device_info_next_set(records[0], None),
                 lambda: K.hid_device_info_serial_number_set(records[0], None),
                 lambda: K.hid_device_info_product_string_set(records[0], None),
                 lambda: K.hid_device_info_manufacturer_string_set(records[0], None)):
        assert "enumeration list" in message(ValueError, call)
    assert [int(r.this) for r in walk(first)] == [int(r.this) for r in records]
    assert records[1].path == records[0].path + ":1"
    records[0].vendor_id = 1  # plain numbers may change
    assert records[0].vendor_id == 1


# ---- records made by hand ---------------------------------------------------------------------

def test_new_record_is_all_zero_and_owned():
    record = K.new_hid_device_info()
    assert record.own() is True
    assert K.hid_device_info_path_get(record) is None
    assert K.hid_device_info_serial_number_get(record) is None
    assert K.hid_device_info_next_get(record) is None
    for member in ("vendor_id", "product_id", "release_number", "usage_page", "usage",
                   "interface_number"):
        assert getattr(K, "hid_device_info_%s_get" % member)(record) == 0


@pytest.mark.parametrize("member, top", [
    ("vendor_id", 65535), ("product_id", 65535), ("release_number", 65535), ("usage_page", 65535),
    ("usage", 65535), ("interface_number", 2 ** 31 - 1)])
def test_number_members(member, top):
    record = hid_device_info()
    setattr(record, member, top)
    assert getattr(record, member) == top
    kind = "unsigned short" if top == 65535 else "int"
    assert message(OverflowError, lambda: getattr(K, "hid_device_info_%s_set" % member)(record, top + 1)) == \
        "in method 'hid_device_info_%s_set', argument 2 of type '%s'" % (member, kind)


@pytest.mark.parametrize("path", ["/dev/hidraw7", "", "é/ü", None])
def test_path_member_keeps_a_copy(path):
    record = hid_device_info()
    record.path = "before"
    source = None if path is None else str(path)
    record.path = source
    assert record.path == path


def test_pointer_members_take_ownership_away():
    record, follower = hid_device_info(), hid_device_info()
    record.next = follower
    assert follower.this.own() is False
    assert int(record.next.this) == int(follower.this) and record.next.this.own() is False
    value = K.new_Attvalue()
    text = K.Attvalue_getValueU8str(value)
    K.hid_device_info_product_string_set(record, text)
    assert int(K.hid_device_info_product_string_get(record)) == int(text)
    record.next = None
    assert record.next is None
    K.delete_hid_device_info(follower.this)


@pytest.mark.parametrize("member", ["path", "vendor_id", "serial_number", "next", "interface_number"])
def test_member_getters_refuse_none(member):
    assert message(TypeError, lambda: getattr(K, "hid_device_info_%s_get" % member)(None)) == \
        "in method 'hid_device_info_%s_get', argument 1 of type 'hid_device_info *'" % member


@pytest.mark.parametrize("member, value", [("path", "x"), ("vendor_id", 1), ("next", None)])
def test_member_setters_on_none_store_nothing(member, value):
    assert getattr(K, "hid_device_info_%s_set" % member)(None, value) is None


# ---- devices ---------------------------------------------------------------------------------

def test_open_by_path_gives_a_borrowed_handle(handle):
    device, opened = handle
    assert repr(opened) == "<Swig Object of type 'hid_device *' at 0x%x>" % id(opened)
    assert opened.own() is False and int(opened) != 0
    assert K.hid_open_path("/dev/no-such-device") is None


def test_open_by_ids_and_serial_from_a_record(listed):
    first, records = listed
    opened = K.hid_open(VID, PID, K.hid_device_info_serial_number_get(records[2]))
    assert opened is not None
    K.hid_close(opened)
    assert K.hid_open(VID, PID, None) is not None


def test_raw_report_round_trip_through_packets(handle, packets):
    device, opened = handle
    (request, answer), (out, into) = packets
    put(out, [0, 0x04, 0x13, 0x00, 0x00])  # report number 0, then: read the vendor name
    assert K.hid_write(opened, out, 65) == 65
    assert device.requests() == [(0x13, 0, b"")]
    assert K.hid_read_timeout(opened, into, 65, 2000) == 64
    reply = get(into, 64)
    assert reply[:3] == bytes([3 + 8, 0x13, 0x01]) and reply[3:11] == b"Korvane\0"


def test_non_blocking_read_returns_at_once(handle, packets):
    device, opened = handle
    assert K.hid_set_nonblocking(opened, 1) == 0
    assert K.hid_read(opened, packets[1][0], 65) == 0
    assert K.hid_read_timeout(opened, packets[1][0], 65, 0) == 0


def test_feature_reports(handle, packets):
    device, opened = handle
    (_, _), (out, into) = packets
    put(out, [5, 1, 2, 3])
    assert K.hid_send_feature_report(opened, out, 4) == 4
    put(into, [5])
    assert K.hid_get_feature_report(opened, into, 65) >= 4
    assert get(into, 4) == bytes([5, 1, 2, 3])


def test_strings_into_a_wide_buffer(handle):
    device, opened = handle
    value = K.new_Attvalue()
    text = K.Attvalue_getValueU8str(value)  # 9 wide characters of room
    assert K.hid_get_product_string(opened, text, 9) == 0
    assert wide(text) == "Vanta"
    assert K.hid_get_serial_number_string(opened, text, 9) == 0 and wide(text) == "VT-1"
    assert K.hid_get_manufacturer_string(opened, text, 9) == 0 and wide(text) == "Korvane "
    assert "maxlen larger" in message(ValueError, lambda: K.hid_get_product_string(opened, text, 10))
    assert K.hid_get_indexed_string(opened, 1, text, 9) == -1


def test_error_text_and_library_state(handle):
    device, opened = handle
    error = K.hid_error(opened)
    assert error is None or repr(error).startswith("<Swig Object of type 'wchar_t *' at ")
    assert K.hid_init() == 0


@pytest.mark.parametrize("call, argument, type_name", [
    (lambda h, d: K.hid_write(None, d, 1), 1, "hid_device *"),
    (lambda h, d: K.hid_read(None, d, 1), 1, "hid_device *"),
    (lambda h, d: K.hid_read_timeout(None, d, 1, 0), 1, "hid_device *"),
    (lambda h, d: K.hid_set_nonblocking(None, 1), 1, "hid_device *"),
    (lambda h, d: K.hid_send_feature_report(None, d, 1), 1, "hid_device *"),
    (lambda h, d: K.hid_get_feature_report(None, d, 1), 1, "hid_device *"),
    (lambda h, d: K.hid_get_manufacturer_string(None, None, 1), 1, "hid_device *"),
    (lambda h, d: K.hid_get_indexed_string(None, 1, None, 1), 1, "hid_device *"),
    (lambda h, d: K.hid_error(None), 1, "hid_device *"),
    (lambda h, d: K.hid_write(h, None, 1), 2, "unsigned char const *"),
    (lambda h, d: K.hid_read(h, None, 1), 2, "unsigned char *"),
    (lambda h, d: K.hid_get_product_string(h, None, 1), 2, "wchar_t *"),
    (lambda h, d: K.hid_get_indexed_string(h, 1, None, 1), 3, "wchar_t *"),
])
def test_none_handles_and_buffers_are_refused(handle, packets, call, argument, type_name):
    device, opened = handle
    text = message(TypeError, lambda: call(opened, packets[1][0]))
    assert text.endswith("argument %d of type '%s'" % (argument, type_name))


@pytest.mark.parametrize("call", [
    lambda h, d: K.hid_write(h, d, 66), lambda h, d: K.hid_read(h, d, 100),
    lambda h, d: K.hid_read_timeout(h, d, 66, 0), lambda h, d: K.hid_send_feature_report(h, d, 66),
    lambda h, d: K.hid_get_feature_report(h, d, 1000)])
def test_lengths_beyond_a_packet_are_refused(handle, packets, call):
    device, opened = handle
    assert "larger than the buffer" in message(ValueError, lambda: call(opened, packets[1][0]))
    assert device.requests() == []


def test_later_argument_errors_come_before_the_none_check():
    assert message(OverflowError, lambda: K.hid_write(None, None, -1)) == \
        "in method 'hid_write', argument 3 of type 'size_t'"
    assert message(OverflowError, lambda: K.hid_read_timeout(None, None, 1, 2 ** 31)) == \
        "in method 'hid_read_timeout', argument 4 of type 'int'"


@pytest.mark.parametrize("call, text", [
    (lambda: K.hid_write(None, b"\0" * 65, 65), "in method 'hid_write', argument 2 of type 'unsigned char const *'"),
    (lambda: K.hid_open(VID, PID, "VT-1"), "in method 'hid_open', argument 3 of type 'wchar_t const *'"),
    (lambda: K.hid_open_path(5), "in method 'hid_open_path', argument 1 of type 'char const *'"),
])
def test_python_data_does_not_cross_as_buffers(call, text):
    assert message(TypeError, call) == text


def test_close_and_free_accept_none():
    assert K.hid_close(None) is None
    assert K.hid_free_enumeration(None) is None


def test_packet_bytes_reach_the_device_through_the_device_link(emu, packets):
    device = emu.add("Vanta", serial="VT-9")
    link = K.new_KorDevice()
    assert K.KorDevice_open(link, device.path) is False
    (_, _), (out, into) = packets
    put(out, [0x04, 0x13, 0x00, 0x03])
    assert K.KorDevice_write(link, out, 4) is False
    assert device.requests() == [(0x13, 3, b"")]
    K.KorDevice_close(link)
    K.delete_KorDevice(link)
