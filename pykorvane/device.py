"""The base of the three models: opening by serial number or path, closing,
context management and the identity texts."""
from __future__ import annotations

from typing import Any, ClassVar, Optional, TypeVar

from . import _args, _core
from .discovery import DeviceInfo, _attached, _primary, device_at
from .errors import DeviceBusyError, DeviceNotFoundError, DeviceOpenError, KorvaneError, check

__all__ = ["Device"]

# The model open() and a with block hand back (typing.Self only exists from
# Python 3.11 on).
_Model = TypeVar("_Model", bound="Device")


class Device:
    """One connection to one device of a model.

    Made closed: ``open()`` (or entering a ``with`` block) opens the device
    with the serial number or path given here, or the first attached device
    of the model when neither is given. A device is held by one connection
    at a time; opening one that another connection holds raises
    :class:`~pykorvane.DeviceBusyError`.
    """

    #: The product string of the model.
    PRODUCT: ClassVar[str] = ""

    def __init__(self, serial: Optional[str] = None, *, path: Optional[str] = None) -> None:
        if serial is not None and path is not None:
            raise ValueError("give serial or path, not both")
        self._wanted_serial = None if serial is None else _args.text("serial", serial)
        self._wanted_path = None if path is None else _args.text("path", path)
        self._core: Any = self._new_core()
        self._info: Optional[DeviceInfo] = None
        # Why the last open failed (None after a successful one): calls on
        # the closed device say so.
        self._open_failure: Optional[str] = None

    def _new_core(self) -> _core.Connection:
        """The binding's connection object of the model (closed)."""
        raise NotImplementedError("Device is the base of Vanta, Brondel and Dmm")

    # -- opening and closing

    def _find(self) -> DeviceInfo:
        if self._wanted_path is not None:
            found = device_at(self._wanted_path, self.PRODUCT)
            if found is None:
                raise DeviceNotFoundError(f"no {self.PRODUCT} attached at {self._wanted_path}")
            return found
        # The first device of the model with the serial number, matched by the core.
        matching = _attached(self.PRODUCT, self._wanted_serial)
        if matching:
            return _primary(matching[0])
        if self._wanted_serial is None:
            raise DeviceNotFoundError(f"no {self.PRODUCT} attached")
        raise DeviceNotFoundError(f"no {self.PRODUCT} with serial number {self._wanted_serial!r} attached")

    def open(self: _Model) -> _Model:
        """Opens the device (no-op when open); returns self.

        Raises DeviceNotFoundError when no such device is attached (also
        when it is unplugged while being opened),
        DeviceBusyError when another connection holds it, DeviceOpenError
        when it cannot be opened (no access to its node).
        """
        if self._core.is_open():
            return self
        try:
            return self._open_found(self._find())
        except KorvaneError as failure:
            self._open_failure = str(failure)
            raise

    def _open_found(self: _Model, info: DeviceInfo) -> _Model:
        """Opens the device of an enumeration record just made (found by
        open(), or the record of DeviceInfo.open()), without enumerating
        again."""
        status = self._core.open(info.path)
        if status == _core.OPEN_BUSY:
            raise DeviceBusyError(f"{info.label} is held open by another "
                                  "connection (close it, or choose another device by serial or path)")
        if status == _core.OPEN_UNAVAILABLE:
            # The record may be stale: a device unplugged since it was listed
            # is not found, rather than blamed on the node's access rights.
            if device_at(info.path, self.PRODUCT) is None:
                raise DeviceNotFoundError(f"no {self.PRODUCT} attached at {info.path}")
            raise DeviceOpenError(f"{info.product} at {info.path} cannot be opened "
                                  "(no access to the device node?)")
        if status == _core.OPEN_OTHER_PRODUCT:
            raise DeviceNotFoundError(f"the device at {info.path} is not a {self.PRODUCT} "
                                      "(its product name says otherwise)")
        if not self._core.is_open():
            # Unplugged while its identity was being read: not opened after all.
            self._core.close()
            raise DeviceNotFoundError(f"{info.label} was unplugged while it was being opened")
        self._info = info
        self._open_failure = None
        return self

    def close(self) -> None:
        """Closes the device; closing a closed device does nothing."""
        self._core.close()

    @property
    def is_open(self) -> bool:
        """Whether the connection is open (False after close or an unplug)."""
        return bool(self._core.is_open())

    @property
    def info(self) -> Optional[DeviceInfo]:
        """The enumeration record of the device last opened, None before."""
        return self._info

    def __enter__(self: _Model) -> _Model:
        return self.open()

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "open" if self.is_open else "closed"
        info = self._info
        where = (info.serial or info.path) if info is not None else (self._wanted_serial or self._wanted_path)
        return f"<{type(self).__name__} {where!r} {state}>" if where else f"<{type(self).__name__} {state}>"

    def _label(self) -> str:
        """Names the device in messages: product and serial number (or path)."""
        info = self._info
        if info is not None:
            label = info.label
        else:
            wanted = self._wanted_serial or self._wanted_path
            label = f"{self.PRODUCT} {wanted}" if wanted else self.PRODUCT
        if self._open_failure is not None and not self._core.is_open():
            label += f" (its last open failed: {self._open_failure})"
        return label

    # -- identity, read from the device at each access

    def _identity(self, attid: int, name: str) -> str:
        return str(check(self._core.identity(attid), f"{self._label()}: {name}"))

    @property
    def vendor(self) -> str:
        """The vendor name, read from the device."""
        return self._identity(_core.ATT_VENDOR_NAME, "vendor")

    @property
    def product(self) -> str:
        """The product name, read from the device."""
        return self._identity(_core.ATT_PRODUCT_NAME, "product")

    @property
    def revision(self) -> str:
        """The hardware revision, read from the device."""
        return self._identity(_core.ATT_PRODUCT_REVISION, "revision")

    @property
    def serial(self) -> str:
        """The serial number, read from the device."""
        return self._identity(_core.ATT_PRODUCT_SERIAL, "serial")

    @property
    def firmware(self) -> str:
        """The firmware version, read from the device."""
        return self._identity(_core.ATT_FIRM_VERSION, "firmware")
