"""ADC: eight analogue channels, raw values as the device reports them."""
from __future__ import annotations

from typing import List

from . import _args
from ._block import Block
from .errors import check

__all__ = ["Adc"]


class Adc(Block):
    """A device's analogue channels (``board.adc``), 0-7."""

    _NAME = "adc"

    #: Number of channels.
    CHANNELS = 8

    def read(self, channel: int) -> int:
        """One channel's raw value, read from the device."""
        number = _args.integer("channel", channel, 0, self.CHANNELS - 1)
        return int(check(self._block.read(number), self._what(f"read({number})")))

    def read_all(self) -> List[int]:
        """The eight channels' values, channel 0 first (one read each)."""
        return [int(check(self._block.read(n), self._what(f"read_all() at channel {n}")))
                for n in range(self.CHANNELS)]
