"""pykorvane: the Korvane devices for Python.

::

    import pykorvane

    for info in pykorvane.devices():
        print(info.product, info.serial, info.path)

    with pykorvane.Vanta() as board:           # the first I/O board
        board.gpio.mode(5, "output")
        board.gpio.write(5, True)
        print(board.adc.read_all())

    with pykorvane.Dmm(serial="DM-0001") as meter:
        print(meter.voltage, meter.current)

Failures raise exceptions derived from :class:`KorvaneError`; wrong
arguments raise TypeError or ValueError before anything is sent. Calls that
talk to a device let other Python threads run meanwhile. The SWIG module
``korvane`` stays available beside this package for scripts written against
it.
"""
from .adc import Adc
from .board import Vanta
from .device import Device
from .discovery import PRODUCTS, DeviceInfo, devices
from .errors import (
    DeviceBusyError,
    DeviceGoneError,
    DeviceNotFoundError,
    DeviceOpenError,
    KorvaneError,
    MalformedAnswerError,
    NoAnswerError,
    NotOpenError,
    RefusedError,
)
from .gpio import Gpio, PinMode
from .hotplug import DeviceEvent, Monitor, monitor, wait_for
from .hub import Brondel
from .i2c import I2c
from .meter import CalibrationOffsets, Dmm

__all__ = [
    "Adc",
    "Brondel",
    "CalibrationOffsets",
    "Device",
    "DeviceBusyError",
    "DeviceEvent",
    "DeviceGoneError",
    "DeviceInfo",
    "DeviceNotFoundError",
    "DeviceOpenError",
    "Dmm",
    "Gpio",
    "I2c",
    "KorvaneError",
    "MalformedAnswerError",
    "Monitor",
    "NoAnswerError",
    "NotOpenError",
    "PRODUCTS",
    "PinMode",
    "RefusedError",
    "Vanta",
    "devices",
    "monitor",
    "wait_for",
]

# The project's version (CMake's project() in the top-level CMakeLists.txt),
# as the binding was built with it.
from ._core import __version__ as __version__  # noqa: E402
