"""Finding and opening devices through udev and hidraw, on both faces."""
import korvane
import pykorvane
import pytest

from conftest import SERIALS
from hidbed import MANUFACTURER, PRODUCT_ID, RELEASE, VENDOR_ID


def hid_records():
    """(path, release, interface, usage page) of each record hid_enumerate lists."""
    first = record = korvane.hid_enumerate(VENDOR_ID, PRODUCT_ID)
    found = []
    while record is not None:
        found.append((record.path, record.release_number, record.interface_number,
                      record.usage_page))
        record = record.next
    korvane.hid_free_enumeration(first)
    return sorted(found)


def test_enumeration_on_both_faces(trio):
    devices = trio.values()
    assert sorted((i.product, i.serial, i.path, i.manufacturer, i.release, i.interface)
                  for i in pykorvane.devices()) == sorted(
        (d.product, d.serial, d.path, MANUFACTURER, RELEASE, 0) for d in devices)
    manager = korvane.KorDeviceManager()
    assert sorted(manager.getDeviceList()) == sorted(SERIALS)
    assert {p: manager.getSerialList(p) for p in SERIALS} == {p: (s,) for p, s in SERIALS.items()}
    assert [manager.getPathByNameAndSerial(d.product, d.serial) for d in devices] == [
        d.path for d in devices]
    assert hid_records() == sorted((d.path, RELEASE, 0, 0xFF00) for d in devices)


def test_two_devices_with_one_serial(bed):
    twins = [bed.plug("Vanta", "VT-0007") for _ in range(2)]
    assert sorted(i.path for i in pykorvane.devices("Vanta")) == sorted(d.path for d in twins)
    manager = korvane.KorDeviceManager()
    assert (manager.getDeviceNum("Vanta"), manager.getSerialList("Vanta")) == (2, ("VT-0007",) * 2)


@pytest.mark.parametrize("by", ["serial", "path"])
def test_open_by(bed, by):
    bed.plug("Vanta", "VT-0001")
    target = bed.plug("Vanta", "VT-0002")
    target.firmware.set_adc(1, 4321)
    key = getattr(target, by)
    with pykorvane.Vanta(**{by: key}) as board:
        assert (board.info.path, board.adc.read(1)) == (target.path, 4321)
    with korvane.Vanta() as board:
        assert (board.open(key) if by == "serial" else board.openPath(key)) is False
        assert board.adchw.analogRead(1) == 4321
