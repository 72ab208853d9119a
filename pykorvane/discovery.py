"""Finding attached devices: :func:`devices` lists every supported device,
one record each, whatever their serial numbers."""
from __future__ import annotations

from dataclasses import dataclass
from typing import List, Optional

from . import _core
from .errors import DeviceNotFoundError

__all__ = ["DeviceInfo", "PRODUCTS", "devices", "device_at"]

#: The product strings of the supported models.
PRODUCTS = ("Vanta", "Brondel HUB", "DMM")


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


def devices(product: Optional[str] = None) -> List[DeviceInfo]:
    """Every attached supported device, in enumeration order.

    With ``product`` ("Vanta", "Brondel HUB" or "DMM") only that model's.
    Devices with equal or empty serial numbers each get their own record;
    tell them apart by ``path``.
    """
    if product is not None and product not in PRODUCTS:
        raise ValueError(f"product must be one of {', '.join(map(repr, PRODUCTS))}, got {product!r}")
    found = []
    for path, name, serial, manufacturer, release, interface in _core.attached_devices():
        if name in PRODUCTS and (product is None or name == product):
            found.append(DeviceInfo(name, serial, path, manufacturer, release, interface))
    return found


def device_at(path: str, product: str) -> Optional[DeviceInfo]:
    """The attached supported device at ``path``, None when there is none;
    raises DeviceNotFoundError when it is another model than ``product``."""
    for info in devices():
        if info.path == path:
            if info.product != product:
                raise DeviceNotFoundError(f"{path} is a {info.product}, not a {product}")
            return info
    return None
