"""The switchable hub Brondel HUB: port power (ports 1-32) and GPIO."""
from __future__ import annotations

from typing import Optional

from . import _args, _core
from .device import Device
from .errors import check
from .gpio import Gpio

__all__ = ["Brondel"]


class Brondel(Device):
    """The switchable USB hub: port power, one port at a time or the whole
    mask (bit n - 1 for port n), and ``gpio``.

    ::

        with pykorvane.Brondel() as hub:
            hub.port_off(3)
            hub.port_mask = 0b1011      # ports 1, 2 and 4 on, the rest off
    """

    PRODUCT = _core.PRODUCT_BRONDEL

    #: Number of ports.
    PORTS = 32

    def _new_core(self) -> _core.Hub:
        return _core.Hub()

    def __init__(self, serial: Optional[str] = None, *, path: Optional[str] = None) -> None:
        super().__init__(serial, path=path)
        #: The hub's GPIO pins.
        self.gpio = Gpio(self, self._core.gpio)

    def _port(self, port: int) -> int:
        return _args.integer("port", port, 1, self.PORTS)

    @property
    def port_mask(self) -> int:
        """Which ports are powered, bit n - 1 for port n, read from the hub;
        setting it switches every port at once."""
        return int(check(self._core.port_mask(), f"{self._label()}: port_mask"))

    @port_mask.setter
    def port_mask(self, mask: int) -> None:
        value = _args.integer("mask", mask, 0, 0xFFFFFFFF)
        check(self._core.set_port_mask(value), f"{self._label()}: port_mask = {value:#010x}")

    def port_on(self, port: int) -> None:
        """Powers port ``port`` (1-32); the other ports stay as they are."""
        number = self._port(port)
        check(self._core.port_on(number), f"{self._label()}: port_on({number})")

    def port_off(self, port: int) -> None:
        """Switches port ``port`` (1-32) off; the other ports stay as they are."""
        number = self._port(port)
        check(self._core.port_off(number), f"{self._label()}: port_off({number})")

    def is_port_on(self, port: int) -> bool:
        """Whether port ``port`` (1-32) is powered, read from the hub."""
        number = self._port(port)
        return bool(check(self._core.is_port_on(number), f"{self._label()}: is_port_on({number})"))
