"""The meter DMM: voltage and current readings, calibration, and the
registers of its measuring chip behind its I2C bridge."""
from __future__ import annotations

import typing
from typing import Dict, Optional

from . import _core
from .device import Device
from .errors import check
from .i2c import I2c

__all__ = ["Dmm", "CalibrationOffsets"]


class CalibrationOffsets(typing.NamedTuple):
    """The meter's four calibration offsets (signed, in the meter's steps)."""

    low_current: int
    high_current: int
    low_voltage: int
    high_voltage: int


class Dmm(Device):
    """The current and voltage meter. Readings are properties that read the
    meter at each access::

        with pykorvane.Dmm() as meter:
            print(meter.voltage, meter.current)

    ``registers()`` and ``die_id`` read the measuring chip at the bridge's
    target address (0x40 at power-up; ``i2c.probe`` and ``i2c.scan`` leave
    it as it was).
    """

    PRODUCT = _core.PRODUCT_DMM

    #: The registers ``registers()`` reads: 0x00 to 0x11.
    REGISTERS = range(0x00, 0x12)

    def _new_core(self) -> _core.Meter:
        return _core.Meter()

    def __init__(self, serial: Optional[str] = None, *, path: Optional[str] = None) -> None:
        super().__init__(serial, path=path)
        #: The I2C bridge to the measuring chip.
        self.i2c = I2c(self, self._core.i2c)

    @property
    def voltage(self) -> float:
        """The voltage reading in volts, read from the meter."""
        return float(check(self._core.voltage(), f"{self._label()}: voltage"))

    @property
    def current(self) -> float:
        """The current reading in amperes, read from the meter."""
        return float(check(self._core.current(), f"{self._label()}: current"))

    @property
    def calibration_offsets(self) -> CalibrationOffsets:
        """The four calibration offsets, read from the meter."""
        return CalibrationOffsets(*check(self._core.calibration_offsets(),
                                         f"{self._label()}: calibration_offsets"))

    def calibrate(self) -> None:
        """Runs the meter's calibration (its offsets are measured anew)."""
        check(self._core.calibrate(), f"{self._label()}: calibrate()")

    def registers(self) -> Dict[int, int]:
        """The measuring chip's registers 0x00-0x11 (16 bits each) as
        {register: value}, read in one go."""
        values = check(self._core.registers(), f"{self._label()}: registers()")
        return dict(zip(self.REGISTERS, values))

    @property
    def die_id(self) -> int:
        """The measuring chip's die id (register 0xFF), read from the meter."""
        return int(check(self._core.die_id(), f"{self._label()}: die_id"))
