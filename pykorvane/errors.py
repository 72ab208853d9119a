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

from typing import Optional, Tuple, TypeVar

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
    """Base class of every device failure pykorvane raises."""


class NotOpenError(KorvaneError):
    """The device object is not open (never opened, or closed)."""


class NoAnswerError(KorvaneError, TimeoutError):
    """The request was sent and no answer came within the 1 s wait bound."""


class RefusedError(KorvaneError):
    """The device answered and refused the request.

    ``return_code`` is the code the device sent (0 for a plain refusal).
    """

    def __init__(self, message: str, return_code: int = 0) -> None:
        super().__init__(message)
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


_RESULT_TEXT = {
    _core.STATUS_NOT_OPEN: "the device is not open",
    _core.STATUS_NO_ANSWER: "no answer within the 1 s wait bound",
    _core.STATUS_MALFORMED: "the answer was malformed",
    _core.STATUS_GONE: "the device is gone (unplugged)",
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
    text: Optional[str] = _RESULT_TEXT.get(status)
    if status == _core.STATUS_NOT_OPEN:
        return NotOpenError(f"{what}: {text}")
    if status == _core.STATUS_NO_ANSWER:
        return NoAnswerError(f"{what}: {text}")
    if status == _core.STATUS_REFUSED:
        return RefusedError(f"{what}: refused by the device (return code {return_code})", return_code)
    if status == _core.STATUS_MALFORMED:
        return MalformedAnswerError(f"{what}: {text}")
    if status == _core.STATUS_GONE:
        return DeviceGoneError(f"{what}: {text}")
    if status == _core.STATUS_BAD_ARGUMENT:
        return ValueError(f"{what}: argument out of range")
    return KorvaneError(f"{what}: unknown status {status}")
