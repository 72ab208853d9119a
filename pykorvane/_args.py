"""Argument checks shared by the blocks and models: every argument is
checked here before anything is sent, so a wrong type or an out-of-range
number raises TypeError or ValueError with a message naming it."""
from __future__ import annotations

import operator
from typing import Any


def integer(name: str, value: Any, low: int, high: int) -> int:
    """value as an int in low..high; bools are refused (a pin is not True)."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an int, not bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{name} must be in {low:#x}..{high:#x}, got {number:#x}"
                         if high > 32 else f"{name} must be in {low}..{high}, got {number}")
    return number


def level(name: str, value: Any) -> bool:
    """A level: True/False, or the ints 1/0."""
    if isinstance(value, bool):
        return value
    if isinstance(value, int) and value in (0, 1):
        return bool(value)
    if isinstance(value, int):
        raise ValueError(f"{name} must be True/False or 1/0, got {value}")
    raise TypeError(f"{name} must be a bool, not {type(value).__name__}")


def text(name: str, value: Any) -> str:
    """A str argument (a serial number or path)."""
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    return value
