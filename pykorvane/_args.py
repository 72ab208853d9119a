"""Argument checks shared by the blocks and models: every argument is
checked here before anything is sent, so a wrong type or an out-of-range
number raises TypeError or ValueError with a message naming it.

Integer-like values are taken wherever an int is (an int subclass, anything
with ``__index__`` such as numpy's integer scalars, a ``numbers.Integral``);
bools are not numbers here (a pin is not True), and numpy's bool scalars
count as bools. Names (products, pin modes) match without regard to case.
"""
from __future__ import annotations

import numbers
import operator
import sys
import typing
from typing import Any


def _is_bool(value: Any) -> bool:
    """A bool, or numpy's bool scalar (looked up only when numpy is loaded)."""
    if isinstance(value, bool):
        return True
    numpy = sys.modules.get("numpy")
    return numpy is not None and isinstance(value, numpy.bool_)


def _as_int(value: Any) -> int:
    """An integer-like value as an int; TypeError for anything else."""
    try:
        return operator.index(value)
    except TypeError:
        if isinstance(value, numbers.Integral):  # registered without __index__
            return int(value)
        raise


def integer(name: str, value: Any, low: int, high: int) -> int:
    """value as an int in low..high; bools are refused (a pin is not True)."""
    if _is_bool(value):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    try:
        number = _as_int(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{name} must be in {low:#x}..{high:#x}, got {number:#x}"
                         if high > 32 else f"{name} must be in {low}..{high}, got {number}")
    return number


def level(name: str, value: Any) -> bool:
    """A level: True/False (numpy's too), or the integers 1/0."""
    if _is_bool(value):
        return bool(value)
    try:
        number = _as_int(value)
    except TypeError:
        raise TypeError(f"{name} must be a bool, not {type(value).__name__}") from None
    if number not in (0, 1):
        raise ValueError(f"{name} must be True/False or 1/0, got {number}")
    return bool(number)


def text(name: str, value: Any) -> str:
    """A str argument (a serial number or path)."""
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    return value


def folded(name: str) -> str:
    """A name as names are compared: without regard to case ("OUTPUT" is
    "output")."""
    return name.casefold()


def choice(name: str, value: Any, options: typing.Sequence[str]) -> str:
    """The option value names, matched without regard to case, spelt as in
    options ("vanta" is "Vanta")."""
    wanted = folded(text(name, value))
    for option in options:
        if folded(option) == wanted:
            return option
    raise ValueError(f"{name} must be one of {', '.join(map(repr, options))}, got {value!r}")
