"""GPIO: 32 pins, each an output or an input (plain, pull-up or pull-down)."""
from __future__ import annotations

import enum
from typing import Any, Optional, Union

from . import _args, _core
from ._block import Block
from .errors import check

__all__ = ["PinMode", "Gpio"]


class PinMode(enum.Enum):
    """How a pin is set up; the values are the names ``mode()`` also takes."""

    OUTPUT = "output"
    INPUT = "input"
    PULLUP = "pullup"
    PULLDOWN = "pulldown"


_CORE_MODES = {
    PinMode.OUTPUT: _core.MODE_OUTPUT,
    PinMode.INPUT: _core.MODE_INPUT,
    PinMode.PULLUP: _core.MODE_PULLUP,
    PinMode.PULLDOWN: _core.MODE_PULLDOWN,
}


class Gpio(Block):
    """A device's GPIO block (``board.gpio``, ``hub.gpio``), pins 0-31.

    Levels are bools (True = high); the whole block's levels are a 32-bit
    mask, bit n for pin n.
    """

    _NAME = "gpio"

    #: Number of pins.
    PINS = 32

    def _pin(self, pin: Any) -> int:
        return _args.integer("pin", pin, 0, self.PINS - 1)

    def mode(self, pin: int, mode: Union[PinMode, str, None] = None) -> Optional[PinMode]:
        """Sets a pin's mode: ``"output"``, ``"input"``, ``"pullup"``,
        ``"pulldown"`` or a :class:`PinMode`. Inputs get exactly the pull
        asked for (the other pull is cleared). Without a mode, returns how
        the pin is set up, read from the device."""
        number = self._pin(pin)
        if mode is None:
            core_mode = check(self._block.mode(number), self._what(f"mode({number})"))
            return next(m for m, value in _CORE_MODES.items() if value == core_mode)
        if isinstance(mode, str):
            try:
                mode = PinMode(_args.folded(mode))
            except ValueError:
                names = ", ".join(repr(m.value) for m in PinMode)
                raise ValueError(f"mode must be one of {names}, got {mode!r}") from None
        elif not isinstance(mode, PinMode):
            raise TypeError(f"mode must be a PinMode or str, not {type(mode).__name__}")
        check(self._block.mode(number, _CORE_MODES[mode]), self._what(f"mode({number}, {mode.value!r})"))
        return None

    def read(self, pin: int) -> bool:
        """The pin's level (True = high), read from the device."""
        number = self._pin(pin)
        return bool(check(self._block.read(number), self._what(f"read({number})")))

    def write(self, pin: int, level: bool) -> None:
        """Sets an output pin's level (True/1 = high); no other pin's output
        level changes. Raises ValueError for a pin that is an input."""
        number = self._pin(pin)
        high = _args.level("level", level)
        what = self._what(f"write({number}, {high})")
        result = self._block.write(number, high)
        if result[0] == _core.STATUS_BAD_ARGUMENT:  # the pin number was checked above
            raise ValueError(f"{what}: pin {number} is an input; set it to output first")
        check(result, what)

    @property
    def levels(self) -> int:
        """Every pin's level as a 32-bit mask (bit n = pin n), read from the device."""
        return int(check(self._block.levels(), self._what("levels")))

    def write_levels(self, mask: int) -> None:
        """Sets the output levels of all 32 pins from a mask (bit n = pin n)."""
        value = _args.integer("mask", mask, 0, 0xFFFFFFFF)
        check(self._block.write_levels(value), self._what(f"write_levels({value:#010x})"))
