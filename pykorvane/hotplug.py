"""Devices that come and go: :func:`wait_for` waits until a device is
attached, :func:`monitor` reports devices arriving and leaving.

::

    import pykorvane

    info = pykorvane.wait_for("DMM", timeout=30)      # a meter, at once if one is attached
    with pykorvane.monitor() as events:
        hub.port_off(3)
        print(events.next(timeout=5))                   # DeviceEvent(kind='removed', ...)

Both rest on the core's hotplug monitor, which enumerates again on each
udev event of a hidraw node (Linux) and every 200 ms in any case. Events are
those of devices as :func:`~pykorvane.devices` lists them: a device with
several HID interfaces arrives and leaves once.
"""
from __future__ import annotations

import atexit
import math
import numbers
import threading
import time
import weakref
from collections import deque
from dataclasses import dataclass
from typing import Callable, Deque, List, Optional, Tuple

from . import _args, _core
from .discovery import PRODUCTS, DeviceInfo, _primary

__all__ = ["ADDED", "REMOVED", "DeviceEvent", "Monitor", "monitor", "wait_for"]

#: The kinds of :class:`DeviceEvent`.
ADDED = "added"
REMOVED = "removed"

# The longest wait handed to the core at once, in ms (pybind11 takes a C
# long long); longer waits are made of several.
_MAX_WAIT_MS = 2**31 - 1

_Record = Tuple[str, str, str, str, int, int]


@dataclass(frozen=True)
class DeviceEvent:
    """A supported device that arrived or left."""

    #: ``"added"`` or ``"removed"``.
    kind: str
    #: The device as :func:`~pykorvane.devices` lists it; for a device that
    #: left, as it was listed last.
    device: DeviceInfo


def _seconds(name: str, value: Optional[float]) -> Optional[float]:
    """A timeout: None (no bound) or a number of seconds, zero or more
    (math.inf is no bound either)."""
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number of seconds or None, not {type(value).__name__}")
    seconds = float(value)
    if math.isnan(seconds) or seconds < 0:
        raise ValueError(f"{name} must be zero or more seconds, got {value!r}")
    return None if math.isinf(seconds) else seconds


class _Device:
    """One device's interface records, as discovery groups them; ``last``
    its record as listed before its last interface went."""

    __slots__ = ("records", "last")

    def __init__(self, record: DeviceInfo) -> None:
        self.records = [record]
        self.last: Optional[DeviceInfo] = None

    @property
    def info(self) -> DeviceInfo:
        return _primary(self.records)


class Monitor:
    """Supported devices arriving and leaving, from the moment it is made:
    the devices attached then are no events.

    Take the events with :meth:`next` or by iterating, or give a
    ``callback`` that a thread of the monitor calls with each event. A
    monitor runs until :meth:`stop` (or the end of its ``with`` block), or
    until ``timeout`` seconds after it was made; iterating ends then. Make
    it with :func:`monitor`.
    """

    def __init__(self, callback: Optional[Callable[[DeviceEvent], object]] = None,
                 timeout: Optional[float] = None) -> None:
        if callback is not None and not callable(callback):
            raise TypeError(f"callback must be callable, not {type(callback).__name__}")
        seconds = _seconds("timeout", timeout)
        self._deadline = None if seconds is None else time.monotonic() + seconds
        self._stopped = False
        # _taking: one thread at a time takes the core's events and applies
        # them (in the core's order); _state guards what they change.
        self._taking = threading.Lock()
        self._state = threading.Lock()
        self._pending: Deque[DeviceEvent] = deque()
        self._devices: List[_Device] = []
        self._core = _core.HotplugMonitor()
        for record in self._core.attached():
            self._add(record)
        self._thread: Optional[threading.Thread] = None
        _running.add(self)
        if callback is not None:
            self._thread = threading.Thread(target=self._deliver, args=(callback,),
                                            name="pykorvane hotplug monitor", daemon=True)
            self._thread.start()

    # ------------------------------------------------------------ the public side

    @property
    def running(self) -> bool:
        """False once stopped (by :meth:`stop`, its ``with`` block or its timeout)."""
        if not self._stopped and self._deadline is not None and time.monotonic() >= self._deadline:
            self.stop()
        return not self._stopped

    @property
    def attached(self) -> List[DeviceInfo]:
        """The attached devices as the monitor saw them last, each as
        :func:`~pykorvane.devices` lists it: those attached when the monitor
        was made in enumeration order, then the others in the order they
        came."""
        with self._state:
            return [device.info for device in self._devices]

    def next(self, timeout: Optional[float] = None) -> Optional[DeviceEvent]:
        """The next event, waiting up to ``timeout`` seconds (None: until one
        comes or the monitor stops); None when none came in time or the
        monitor is stopped. Ctrl-C ends the wait with KeyboardInterrupt.
        A monitor with a callback gives its events to the callback only."""
        if self._thread is not None and threading.current_thread() is not self._thread:
            raise RuntimeError("this monitor hands its events to its callback")
        return self._next(_seconds("timeout", timeout))

    def __iter__(self) -> Monitor:
        return self

    def __next__(self) -> DeviceEvent:
        event = self.next()
        if event is None:
            raise StopIteration
        return event

    def stop(self) -> None:
        """Stops the monitor: waits end, iterating ends, the callback is
        called no more (stop() waits for a call under way, unless called
        from the callback). Stopping twice does nothing."""
        self._stopped = True
        self._core.stop()
        _running.discard(self)
        thread = self._thread
        if thread is not None and thread is not threading.current_thread():
            thread.join()

    def __enter__(self) -> Monitor:
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()

    def __repr__(self) -> str:
        return f"<pykorvane.Monitor {'running' if self.running else 'stopped'}>"

    # ------------------------------------------------------------ events

    def _next(self, timeout: Optional[float]) -> Optional[DeviceEvent]:
        end = None if timeout is None else time.monotonic() + timeout
        while self.running:
            with self._state:
                if self._pending:
                    return self._pending.popleft()
            if not self._take(_earliest(end, self._deadline)):
                if end is not None and time.monotonic() >= end:
                    return None
        return None

    def _take(self, end: Optional[float]) -> bool:
        """Waits until `end` (a time.monotonic(); None: no bound) for the
        core's events and applies them; False when none came."""
        left = _left(end)
        if not self._taking.acquire(timeout=-1 if left is None else left):
            return False
        try:
            left = _left(end)
            timeout_ms = -1 if left is None else min(math.ceil(left * 1000), _MAX_WAIT_MS)
            batch = self._core.wait(timeout_ms)
            if not batch:
                return False
            with self._state:
                self._pending.extend(self._apply(batch))
            return True
        finally:
            self._taking.release()

    def _deliver(self, callback: Callable[[DeviceEvent], object]) -> None:
        """The callback's thread. An exception from the callback stops the
        monitor and is reported as any thread's is (threading.excepthook)."""
        try:
            while True:
                event = self._next(None)
                if event is None:
                    return
                callback(event)
        except BaseException:
            self._stopped = True
            self._core.stop()
            _running.discard(self)
            raise

    # ------------------------------------------------------------ devices from records

    def _apply(self, batch: List[Tuple[str, _Record]]) -> List[DeviceEvent]:
        """The device events of a batch of the core's record events, in
        their order. A device is added with its first record and removed
        with its last one; the record of an added device is taken at the
        batch's end, when its other interfaces of the batch have joined it
        (so it is the record devices() gives)."""
        made: List[Tuple[str, _Device, Optional[DeviceInfo]]] = []
        for kind, record in batch:
            if kind == ADDED:
                device = self._add(record)
                if device is not None:
                    made.append((ADDED, device, None))
            else:
                gone = self._remove(record)
                if gone is not None:
                    made.append((REMOVED, gone[0], gone[1]))
        events = []
        for kind, device, last in made:
            info = last or (device.info if device.records else device.last)
            assert info is not None
            events.append(DeviceEvent(kind, info))
        return events

    def _add(self, record: _Record) -> Optional[_Device]:
        """Takes a record in as discovery.devices() groups records: it joins
        the latest device of its product and serial number that has no
        interface of its number yet, else it is a device of its own
        (returned)."""
        path, product, serial, manufacturer, release, interface = record
        if product not in PRODUCTS:
            return None
        info = DeviceInfo(product, serial, path, manufacturer, release, interface)
        for device in reversed(self._devices):
            first = device.records[0]
            if ((first.product, first.serial) == (product, serial)
                    and all(r.interface != interface for r in device.records)):
                device.records.append(info)
                return None
        device = _Device(info)
        self._devices.append(device)
        return device

    def _remove(self, record: _Record) -> Optional[Tuple[_Device, DeviceInfo]]:
        """Takes a record out; when it was its device's last, the device and
        its record as listed before."""
        path, product, serial, manufacturer, release, interface = record
        info = DeviceInfo(product, serial, path, manufacturer, release, interface)
        for device in self._devices:
            if info in device.records:
                last = device.info
                device.records.remove(info)
                if device.records:
                    return None
                self._devices.remove(device)
                device.last = last
                return device, last
        return None


def _left(end: Optional[float]) -> Optional[float]:
    return None if end is None else max(0.0, end - time.monotonic())


def _earliest(a: Optional[float], b: Optional[float]) -> Optional[float]:
    return b if a is None else (a if b is None else min(a, b))


# Monitors not stopped yet. Their cores are stopped when the interpreter
# exits, so that no core thread outlives it; a callback's thread (a daemon)
# is not waited for, as it may be in a callback that never ends.
_running: "weakref.WeakSet[Monitor]" = weakref.WeakSet()


@atexit.register
def _stop_all() -> None:
    for running in list(_running):
        running._stopped = True
        running._core.stop()


def monitor(callback: Optional[Callable[[DeviceEvent], object]] = None,
            timeout: Optional[float] = None) -> Monitor:
    """Watches supported devices arriving and leaving, from now on.

    Without ``callback``, take the events by iterating (``for event in
    monitor(timeout=5)``) or with :meth:`Monitor.next`; with one, a thread of
    the monitor calls ``callback(event)`` for each event until the monitor
    stops. ``timeout`` (seconds; None for none) stops the monitor that long
    after it was made. Use it in a ``with`` block, or call
    :meth:`Monitor.stop`, to stop it.
    """
    return Monitor(callback, timeout)


def wait_for(product: Optional[str] = None, serial: Optional[str] = None,
             path: Optional[str] = None, timeout: Optional[float] = None) -> DeviceInfo:
    """Waits until a supported device is attached and returns its record, as
    :func:`~pykorvane.devices` lists it; at once when one is attached
    already.

    ``product`` ("Vanta", "Brondel HUB" or "DMM", in any case), ``serial``
    and ``path`` (the path of any of the device's HID interfaces) narrow the
    devices waited for. Raises TimeoutError when ``timeout`` seconds pass
    first (None: waits as long as it takes; Ctrl-C ends the wait with
    KeyboardInterrupt).
    """
    wanted = None if product is None else _args.choice("product", product, PRODUCTS)
    if serial is not None:
        _args.text("serial", serial)
    if path is not None:
        _args.text("path", path)
    seconds = _seconds("timeout", timeout)
    end = None if seconds is None else time.monotonic() + seconds
    with Monitor() as watching:
        while True:
            with watching._state:
                for device in watching._devices:
                    info = device.info
                    if ((wanted is None or info.product == wanted)
                            and (serial is None or info.serial == serial)
                            and (path is None or any(r.path == path for r in device.records))):
                        return info
            if end is not None and time.monotonic() >= end:
                raise TimeoutError(f"no {_described(wanted, serial, path)} attached "
                                   f"within {seconds:g} s")
            if not watching._take(end) and not watching.running:
                raise RuntimeError("the interpreter is exiting")  # its monitors were stopped


def _described(product: Optional[str], serial: Optional[str], path: Optional[str]) -> str:
    """How the timeout's message names what was waited for."""
    what = product or "supported device"
    if serial is not None:
        what += f" with serial number '{serial}'"
    if path is not None:
        what += f" at {path}"
    return what
