"""The exceptions of pykorvane, and the one place that turns the core's
statuses into them.

Every exception raised for a device is a :class:`KorvaneError`; several
also derive from the built-in exception a Python user would catch for that
kind of failure (a silent device is a :class:`TimeoutError`, an unplugged
one an :class:`OSError`, a device that is not attached a
:class:`LookupError`). Bad arguments are not device failures: they raise
:class:`TypeError` or :class:`ValueError` before anything is sent.
"""
from __future__ import annotations

from typing import Dict, Optional, Tuple, Type, TypeVar

from . import _core

__all__ = [
    "KorvaneError",
    "NotOpenError",
    "NoAnswerError",
    "RefusedError",
    "MalformedAnswerError",
    "DeviceGoneError",
    "DeviceNotFoundError",
    "DeviceBusyError",
    "DeviceOpenError",
]

T = TypeVar("T")


class KorvaneError(Exception):
    """Base class of every device failure pykorvane raises.

    ``reason`` is what went wrong without the device and operation the
    message starts with (``"no answer within 1 s"``, say); for failures that
    have no such parts it is the whole message.
    """

    def __init__(self, message: str, *, reason: Optional[str] = None) -> None:
        super().__init__(message)
        #: What went wrong, in words.
        self.reason = message if reason is None else reason


class NotOpenError(KorvaneError):
    """The device object is not open (never opened, or closed)."""


class NoAnswerError(KorvaneError, TimeoutError):
    """The request was sent and no answer known to be its own came within
    the core's answer wait bound (none came, or a late answer of an earlier
    request came with it and the two could not be told apart)."""


class RefusedError(KorvaneError):
    """The device answered and refused the request.

    ``return_code`` is the code the device sent (0 for a plain refusal).
    """

    def __init__(self, message: str, return_code: int = 0, *, reason: Optional[str] = None) -> None:
        super().__init__(message, reason=reason)
        #: The device's return code.
        self.return_code = return_code


class MalformedAnswerError(KorvaneError):
    """An answer came that is neither a success nor a refusal."""


class DeviceGoneError(KorvaneError, OSError):
    """The device was unplugged: calls fail at once until it is opened again."""


class DeviceNotFoundError(KorvaneError, LookupError):
    """No attached device matches the product, serial number or path asked for."""


class DeviceBusyError(KorvaneError):
    """Another connection holds the device open (a device object of this
    process, or another process on a real device node): one connection per
    device. Close the other one first."""


class DeviceOpenError(KorvaneError, OSError):
    """The device is attached but could not be opened (usually no access to
    its hidraw node: install the udev rule and replug)."""


# Each failed status: the exception it raises and its reason in words
# ({return_code} is the device's code). An argument the core finds out of
# range raises ValueError, as the Python side's own checks do.
_FAILURES: Dict[int, Tuple[Type[Exception], str]] = {
    _core.STATUS_NOT_OPEN: (NotOpenError, "the device is not open"),
    _core.STATUS_NO_ANSWER: (NoAnswerError, _core.NO_ANSWER_REASON),
    _core.STATUS_REFUSED: (RefusedError, "refused by the device (return code {return_code})"),
    _core.STATUS_MALFORMED: (MalformedAnswerError, "the answer was malformed"),
    _core.STATUS_GONE: (DeviceGoneError, "the device is gone (unplugged?)"),
    _core.STATUS_BAD_ARGUMENT: (ValueError, "argument out of range"),
    _core.STATUS_UNPAIRED: (NoAnswerError, "no answer known to be its own (a late answer came with it)"),
}


def check(result: Tuple[int, int, T], what: str) -> T:
    """The value of a binding result; raises the exception of its status.

    ``what`` names the operation and device for the message, e.g.
    ``"Vanta VT-0001: gpio.read(5)"``.
    """
    status, return_code, value = result
    if status == _core.STATUS_OK:
        return value
    raise error_for(status, return_code, what)


def error_for(status: int, return_code: int, what: str) -> Exception:
    """The exception for a failed status (see :func:`check`)."""
    kind, text = _FAILURES.get(status, (KorvaneError, "unknown status {status}"))
    reason = text.format(return_code=return_code, status=status)
    message = f"{what}: {reason}"
    if kind is RefusedError:
        return RefusedError(message, return_code, reason=reason)
    if issubclass(kind, KorvaneError):
        return kind(message, reason=reason)
    return kind(message)
