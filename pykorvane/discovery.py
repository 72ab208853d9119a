"""Finding attached devices: :func:`devices` lists every supported device,
one record each, whatever their serial numbers and however many HID
interfaces they have."""
from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Dict, List, Optional, Type

from . import _args, _core
from .errors import DeviceNotFoundError

if TYPE_CHECKING:  # the models import this module: for the hints only
    from .device import Device as _Device

__all__ = ["DeviceInfo", "PRODUCTS", "devices", "device_at"]

#: The product strings of the supported models ("Vanta", "Brondel HUB",
#: "DMM"), as the core defines them.
PRODUCTS = _core.PRODUCTS


@dataclass(frozen=True)
class DeviceInfo:
    """One attached device as USB enumeration reports it."""

    #: Product string: "Vanta", "Brondel HUB" or "DMM".
    product: str
    #: Serial number ("" when the device has none).
    serial: str
    #: The hidraw path to open it by.
    path: str
    #: Manufacturer string.
    manufacturer: str
    #: Release number (bcdDevice), e.g. 0x0100.
    release: int
    #: HID interface number.
    interface: int = 0

    @property
    def label(self) -> str:
        """How messages name the device: product and serial number, or the
        path when the device has no serial number."""
        return f"{self.product} {self.serial or self.path}"

    def open(self) -> _Device:
        """Opens the device of this record and returns the opened model
        object of its product (a :class:`~pykorvane.Vanta`,
        :class:`~pykorvane.Brondel` or :class:`~pykorvane.Dmm`), as
        ``Vanta(path=info.path).open()`` would, without listing the devices
        again. Close it (or use it in a ``with`` block) when done.

        Raises what opening by path raises: DeviceNotFoundError when the
        device is no longer attached (or the path now holds another model),
        DeviceBusyError when another connection holds it, DeviceOpenError
        when it cannot be opened (no access to its node); ValueError when
        ``product`` names no supported model.
        """
        model = _models()[_args.choice("product", self.product, PRODUCTS)]
        return model(path=self.path)._open_found(self)


def _models() -> Dict[str, Type[_Device]]:
    """The model class of each product string."""
    from .board import Vanta
    from .hub import Brondel
    from .meter import Dmm
    return {model.PRODUCT: model for model in (Vanta, Brondel, Dmm)}


def _product(product: Optional[str]) -> Optional[str]:
    return None if product is None else _args.choice("product", product, PRODUCTS)


def _attached(product: Optional[str], wanted_serial: Optional[str] = None) -> List[List[DeviceInfo]]:
    """Each attached device's interface records, in enumeration order.

    Enumeration lists one record per HID interface: a record joins the
    latest device of its product and serial number that has no interface of
    its number yet, else it is a device of its own. So two devices with one
    serial number (or none) stay two, and a device with two interfaces is
    one. With product and wanted_serial, only the devices whose texts the
    core matches to them (their UTF-8 equal to the one given, as the korvane
    module matches them); a serial with lone surrogates, not UTF-8, matches
    none."""
    wanted = None if wanted_serial is None else wanted_serial.encode("utf-8", "surrogateescape")
    found: List[List[DeviceInfo]] = []
    for path, name, serial, manufacturer, release, interface in _core.attached_devices(product, wanted):
        if name not in PRODUCTS:
            continue
        info = DeviceInfo(name, serial, path, manufacturer, release, interface)
        for records in reversed(found):
            if ((records[0].product, records[0].serial) == (name, serial)
                    and all(r.interface != interface for r in records)):
                records.append(info)
                break
        else:
            found.append([info])
    return found


def _primary(records: List[DeviceInfo]) -> DeviceInfo:
    """The record a device is opened and named by: its interface 0, else the
    first one listed."""
    return next((r for r in records if r.interface == 0), records[0])


def devices(product: Optional[str] = None) -> List[DeviceInfo]:
    """Every attached supported device, once, in enumeration order.

    With ``product`` ("Vanta", "Brondel HUB" or "DMM", in any case) only
    that model's. Devices with equal or empty serial numbers each get their
    own record; tell them apart by ``path``. A device with several HID
    interfaces is one record, that of its interface 0 (or of the first one
    listed).
    """
    return [_primary(records) for records in _attached(_product(product))]


def device_at(path: str, product: Optional[str] = None) -> Optional[DeviceInfo]:
    """The attached supported device one of whose interfaces is at ``path``,
    as :func:`devices` lists it (the path of any interface gives the
    device's record, so a device is opened by one path only); None when
    there is none. With ``product``, raises DeviceNotFoundError when the
    device is another model."""
    _args.text("path", path)
    wanted = _product(product)
    for records in _attached(None):
        if any(r.path == path for r in records):
            info = _primary(records)
            if wanted is not None and info.product != wanted:
                raise DeviceNotFoundError(f"{path} is a {info.product}, not a {wanted}")
            return info
    return None
