"""Device enumeration: counts, lists, path lookups and the narrowing of names."""
import pytest

import _korvane as K
import korvane
import pykorvane


def test_nothing_attached_gives_empty_answers(emu):
    manager = korvane.KorDeviceManager()
    assert manager.getDeviceNum() == 0
    assert manager.getDeviceNum("Vanta") == 0
    assert manager.getDeviceList() == ()
    assert manager.getSerialList("Vanta") == ()
    assert manager.getPathByName("Vanta") is None
    assert manager.getPathByNameAndSerial("Vanta", "VT-0001") is None


def test_two_boards_of_one_name_are_counted_and_listed(emu):
    emu.add("Vanta", serial="VT-0001")
    emu.add("DMM", serial="DM-0001")
    emu.add("Vanta", serial="VT-0002")
    manager = korvane.KorDeviceManager()

    assert manager.getDeviceNum() == 3
    assert manager.getDeviceNum("Vanta") == 2
    assert manager.getDeviceNum("DMM") == 1
    names = manager.getDeviceList()
    assert type(names) is tuple and all(type(n) is str for n in names)
    assert sorted(names) == ["DMM", "Vanta", "Vanta"]
    serials = manager.getSerialList("Vanta")
    assert type(serials) is tuple
    assert sorted(serials) == ["VT-0001", "VT-0002"]


def test_path_by_name_is_the_first_listed_record(emu):
    first = emu.add("Vanta", serial="VT-0001")
    second = emu.add("Vanta", serial="VT-0002")
    boards = {"VT-0001": first, "VT-0002": second}
    manager = korvane.KorDeviceManager()
    # The serial list follows the enumeration order, so its first entry names
    # the record that a lookup by name must return.
    first_listed = manager.getSerialList("Vanta")[0]
    assert manager.getPathByName("Vanta") == boards[first_listed].path


@pytest.mark.parametrize("name", ["vanta", "VANTA", "Van", "Vanta ", "anta", ""])
def test_name_must_match_exactly(emu, name):
    emu.add("Vanta", serial="VT-0001")
    manager = korvane.KorDeviceManager()
    assert manager.getDeviceNum(name) == 0
    assert manager.getPathByName(name) is None
    assert manager.getSerialList(name) == ()


def test_lookup_by_name_and_serial(emu):
    first = emu.add("Vanta", serial="VT-0001")
    second = emu.add("Vanta", serial="VT-0002")
    emu.add("DMM", serial="SHARED-7")
    manager = korvane.KorDeviceManager()
    assert manager.getPathByNameAndSerial("Vanta", "VT-0002") == second.path
    assert manager.getPathByNameAndSerial("Vanta", "VT-0001") == first.path
    # A serial that only a device of another name carries matches nothing.
    assert manager.getPathByNameAndSerial("Vanta", "SHARED-7") is None
    assert manager.getPathByNameAndSerial("Vanta", "VT-000") is None


def test_missing_strings_count_as_empty(emu):
    dev = emu.add("Vanta", serial="VT-0001")
    dev.set_product(None)
    dev.set_serial(None)
    other = emu.add("Vanta", serial=None)
    other.set_serial(None)
    manager = korvane.KorDeviceManager()
    assert sorted(manager.getDeviceList()) == ["", "Vanta"]
    assert manager.getDeviceNum("") == 1
    assert manager.getPathByName("") == dev.path
    assert manager.getSerialList("Vanta") == ("",)
    assert manager.getPathByNameAndSerial("Vanta", "") == other.path


def test_latin1_product_string_narrows_to_one_byte(emu):
    dev = emu.add("Vanta", serial="VT-0001")
    dev.set_product("Vant\u00e9")
    manager = korvane.KorDeviceManager()
    # The narrowed byte 0xE9 is not UTF-8, so it reaches Python escaped.
    assert manager.getDeviceList() == ("Vant\udce9",)
    assert manager.getDeviceList()[0].encode("utf-8", "surrogateescape") == b"Vant\xe9"
    # Lookups compare UTF-8: the same character typed in Python (C3 A9) matches.
    assert manager.getDeviceNum("Vant\u00e9") == 1
    assert manager.getPathByName("Vant\u00e9") == dev.path


def test_wide_characters_keep_their_low_byte(emu):
    dev = emu.add("Vanta", serial="VT-0001")
    dev.set_serial("S\u0141N")  # U+0141 keeps only 0x41, an "A"
    manager = korvane.KorDeviceManager()
    assert manager.getSerialList("Vanta") == ("SAN",)
    # The listed text is narrowed; the lookup matches the serial number itself.
    assert manager.getPathByNameAndSerial("Vanta", "SAN") is None
    assert manager.getPathByNameAndSerial("Vanta", "S\u0141N") == dev.path


def _korvane_finds(serial):
    return korvane.KorDeviceManager().getPathByNameAndSerial("Vanta", serial)


def _pykorvane_finds(serial):
    try:
        with pykorvane.Vanta(serial=serial) as board:
            return board.info.path
    except pykorvane.DeviceNotFoundError:
        return None


@pytest.mark.parametrize("finds", [_korvane_finds, _pykorvane_finds], ids=["korvane", "pykorvane"])
@pytest.mark.parametrize("wanted, found", [
    ("VT-\u00e9", "composed"),
    ("VT-e\u0301", "decomposed"),  # no normalisation: each form matches itself alone
    ("VT-\U0001F600", "emoji"),
    ("VT-\u00c9", None),  # no case folding
    ("VT-e", None),
])
def test_both_modules_match_a_serial_number_by_its_utf8(emu, finds, wanted, found):
    boards = {name: emu.add("Vanta", serial=serial) for name, serial in
              [("composed", "VT-\u00e9"), ("decomposed", "VT-e\u0301"), ("emoji", "VT-\U0001F600")]}
    assert finds(wanted) == (boards[found].path if found else None)


def test_long_device_strings_neither_overrun_nor_fail(emu):
    dev = emu.add("Vanta", serial="S" * 60)
    dev.set_product("P" * 48)
    manager = korvane.KorDeviceManager()
    (product,) = manager.getDeviceList()
    (serial,) = manager.getSerialList(product)
    # Cutting at 31 characters or converting whole are both sound; either
    # way the answer is a clean prefix of the device's string.
    assert product in ("P" * 31, "P" * 48)
    assert serial in ("S" * 31, "S" * 60)
    assert manager.getPathByNameAndSerial(product, serial) == dev.path


def test_every_hid_interface_is_one_record(emu):
    dev = emu.add("Brondel HUB", serial="BH-0001")
    dev.set_interfaces(2)
    manager = korvane.KorDeviceManager()
    assert manager.getDeviceNum() == 2
    assert manager.getDeviceList() == ("Brondel HUB", "Brondel HUB")
    assert manager.getSerialList("Brondel HUB") == ("BH-0001", "BH-0001")


def test_other_usb_ids_are_not_listed(emu):
    emu.add("Vanta", serial="VT-0001").set_ids(0x2341, 0x8036)
    emu.add("DMM", serial="DM-0001")
    manager = korvane.KorDeviceManager()
    assert manager.getDeviceList() == ("DMM",)
    assert manager.getPathByName("Vanta") is None


def test_snapshot_changes_only_on_update(emu):
    dev = emu.add("Vanta", serial="VT-0001")
    manager = korvane.KorDeviceManager()
    dev.unplug()
    assert manager.getDeviceNum() == 1
    manager.updateDeviceList()
    assert manager.getDeviceNum() == 0
    assert manager.getPathByName("Vanta") is None
    dev.replug()
    emu.add("DMM", serial="DM-0001")
    manager.updateDeviceList()
    assert sorted(manager.getDeviceList()) == ["DMM", "Vanta"]


def test_path_outlives_its_manager(emu):
    dev = emu.add("Vanta", serial="VT-0001")
    manager = korvane.KorDeviceManager()
    path = manager.getPathByName("Vanta")
    del manager
    core = korvane.KorCore()
    assert core.openPath(path) is False
    assert core.getProductSerial() == "VT-0001"
    assert path == dev.path


def test_flat_functions_match_the_proxy(emu):
    emu.add("DMM", serial="DM-0001")
    manager = K.new_KorDeviceManager()
    try:
        assert K.KorDeviceManager_getDeviceNum(manager) == 1
        assert K.KorDeviceManager_getDeviceNum(manager, "DMM") == 1
        assert K.KorDeviceManager_getSerialList(manager, "DMM") == ("DM-0001",)
        assert K.KorDeviceManager_getPathByName(manager, "Vanta") is None
    finally:
        K.delete_KorDeviceManager(manager)


def test_convert_wide_string_from_an_enumeration_record(emu):
    emu.add("Brondel HUB", serial="BH-0042")
    records = K.hid_enumerate(korvane.USB_VID_PIC, korvane.USB_PID_PIC)
    try:
        assert K.convertWcharToString(records.product_string) == "Brondel HUB"
        assert K.convertWcharToString(records.serial_number) == "BH-0042"
    finally:
        K.hid_free_enumeration(records)
    assert K.convertWcharToString(None) == ""
