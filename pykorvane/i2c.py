"""I2C: register access to a target on a device's I2C bridge, probing and
bus scans."""
from __future__ import annotations

from typing import Any, List, Optional

from . import _args
from ._block import Block
from .device import Device
from .errors import check

__all__ = ["I2c"]


class I2c(Block):
    """A device's I2C bridge (``board.i2c``, ``meter.i2c``).

    Register accesses go to the bridge's target address, set with
    ``i2c.target = 0x40`` (the bridge keeps it; at power-up it is 0x40).
    Register data is 1 to 4 bytes wide, least significant byte first on the
    bus; ``probe`` and ``scan`` leave the target as it was.
    """

    _NAME = "i2c"

    #: The lowest and highest address a default scan covers.
    SCAN_FIRST, SCAN_LAST = 0x08, 0x77

    def __init__(self, device: Device, block: Any) -> None:
        super().__init__(device, block)
        self._target: Optional[int] = None

    @property
    def target(self) -> Optional[int]:
        """The target address last set through this object (None before);
        setting it (0x00-0x7F) writes it to the bridge."""
        return self._target

    @target.setter
    def target(self, address: int) -> None:
        value = _args.integer("address", address, 0, 0x7F)
        check(self._block.set_target(value), self._what(f"target = {value:#04x}"))
        self._target = value

    def read(self, reg: int, width: int = 2) -> int:
        """The target's register ``reg`` (0x00-0xFF), ``width`` bytes (1-4)."""
        register = _args.integer("reg", reg, 0, 0xFF)
        size = _args.integer("width", width, 1, 4)
        return int(check(self._block.read(register, size),
                         self._what(f"read({register:#04x}, width={size})")))

    def write(self, reg: int, value: int, width: int = 2) -> None:
        """Writes ``value`` (it must fit in ``width`` bytes, 1-4) to the
        target's register ``reg`` (0x00-0xFF)."""
        register = _args.integer("reg", reg, 0, 0xFF)
        size = _args.integer("width", width, 1, 4)
        data = _args.integer("value", value, 0, (1 << (8 * size)) - 1)
        check(self._block.write(register, data, size),
              self._what(f"write({register:#04x}, {data:#x}, width={size})"))

    def probe(self, address: int) -> bool:
        """Whether a target acknowledges ``address`` (0x00-0x7F); the bridge's
        target is set back afterwards."""
        value = _args.integer("address", address, 0, 0x7F)
        return bool(check(self._block.probe(value), self._what(f"probe({value:#04x})")))

    def scan(self, first: int = SCAN_FIRST, last: int = SCAN_LAST) -> List[int]:
        """The addresses in first..last (default 0x08-0x77) whose target
        acknowledges, in ascending order; the bridge's target is set back
        afterwards."""
        low = _args.integer("first", first, 0, 0x7F)
        high = _args.integer("last", last, 0, 0x7F)
        if low > high:
            raise ValueError(f"first ({low:#04x}) must not be above last ({high:#04x})")
        return list(check(self._block.scan(low, high), self._what(f"scan({low:#04x}, {high:#04x})")))
