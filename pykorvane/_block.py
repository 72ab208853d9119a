"""The common part of the block objects (GPIO, ADC, I2C)."""
from __future__ import annotations

import weakref
from typing import Any, ClassVar

from .device import Device


class Block:
    """A block of a device: the binding's block object, which keeps the
    connection alive, and a weak reference to the device object for the
    messages (a strong one would make a cycle, and a dropped device would
    then stay open until the garbage collector ran)."""

    _NAME: ClassVar[str] = ""

    def __init__(self, device: Device, block: Any) -> None:
        self._owner = weakref.ref(device)
        self._product = device.PRODUCT
        self._block = block

    def _what(self, operation: str) -> str:
        device = self._owner()
        label = device._label() if device is not None else self._product
        return f"{label}: {self._NAME}.{operation}"
