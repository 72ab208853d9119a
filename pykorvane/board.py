"""The I/O board Vanta: GPIO, ADC and I2C bridge on one connection."""
from __future__ import annotations

from typing import Optional

from . import _core
from .adc import Adc
from .device import Device
from .gpio import Gpio
from .i2c import I2c

__all__ = ["Vanta"]


class Vanta(Device):
    """The I/O board: ``gpio`` (32 pins), ``adc`` (8 channels), ``i2c``.

    ::

        with pykorvane.Vanta(serial="VT-0001") as board:
            board.gpio.mode(5, "output")
            board.gpio.write(5, True)
            print(board.adc.read(3))
    """

    PRODUCT = _core.PRODUCT_VANTA

    def _new_core(self) -> _core.Board:
        return _core.Board()

    def __init__(self, serial: Optional[str] = None, *, path: Optional[str] = None) -> None:
        super().__init__(serial, path=path)
        #: The 32 GPIO pins.
        self.gpio = Gpio(self, self._core.gpio)
        #: The eight analogue channels.
        self.adc = Adc(self, self._core.adc)
        #: The I2C bridge.
        self.i2c = I2c(self, self._core.i2c)
