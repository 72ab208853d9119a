"""Helpers the module's tests share: the source and build trees, request
tuples as the emulator logs them, a device's reports, the model objects over
emulated devices, and waits on what a device sent or received."""
import contextlib
import ctypes
import os
import struct
import threading
import time
from pathlib import Path

import _korvane as K
from korvane_emu import find_library

# The test command sets both; run by hand, the tests take the tree they sit
# in and its build/, as scripts/build.sh does.
SOURCE_DIR = Path(os.environ.get("KORVANE_SOURCE_DIR") or Path(__file__).resolve().parents[2])
BUILD_DIR = Path(os.environ.get("KORVANE_BUILD_DIR") or SOURCE_DIR / "build")

READ, WRITE = 0x13, 0x12

# What a model's reading returns when it fails (-999.9 as a float), and what
# an open that fails prints.
FAILED_READING = struct.unpack("<f", struct.pack("<f", -999.9))[0]
OPEN_FAILED = "[ERR] Unable to open device\n"

# The test command's sanitizer run preloads the sanitizer runtimes ahead of
# the emulated HID library: a child started with an environment of its own
# needs them first in its preload list too.
SANITIZER_PRELOAD = ":".join(
    p for p in os.environ.get("LD_PRELOAD", "").split(":") if p and "libkorvane_emu" not in p)
SANITIZED = "libasan" in SANITIZER_PRELOAD


def preload(*libraries):
    """An LD_PRELOAD value: the sanitizer runtimes (if any), then libraries."""
    return ":".join(p for p in (SANITIZER_PRELOAD,) + libraries if p)


def R(attid):
    """A read request as dev.requests() lists it."""
    return (READ, attid, b"")


def W(attid, value):
    """A write request as dev.requests() lists it."""
    return (WRITE, attid, bytes(value))


# What every open sends: reads of the five identity texts, in order.
IDENTITY_READS = [R(attid) for attid in range(5)]


def u32(value):
    return value.to_bytes(4, "little")


def host_reports(dev):
    """The 64-byte reports the device received from the host, in order."""
    return [entry.report for entry in dev.log() if entry.kind == 0]


@contextlib.contextmanager
def model_on(emu, model, product, serial):
    """An emulated device of the product and a model object, not yet opened;
    the object is deleted (and so closed) afterwards."""
    dev = emu.add(product, serial=serial)
    device = model()
    yield device, dev
    getattr(K, "delete_" + model.__name__)(device)


def opened(emu, model, product, serial):
    """An emulated device of the product and a model object opened on it by
    serial, with the open's traffic cleared: (model object, device)."""
    dev = emu.add(product, serial=serial)
    device = model()
    assert device.open(serial) is False
    dev.clear_log()
    return device, dev


def assert_deleting_open_releases_handle(emu, class_name, open_name, *open_args):
    """Deleting an open object through the flat function releases its handle."""
    thing = getattr(K, "new_" + class_name)()
    assert getattr(K, class_name + "_" + open_name)(thing, *open_args) is False
    assert emu.open_handle_count() == 1
    getattr(K, "delete_" + class_name)(thing)
    assert emu.open_handle_count() == 0


class Listener:
    """A second raw handle on an emulated device, opened through the emulated
    hidapi. It receives every report the device sends from now on at the
    moment the host could read it (an answer set to come late included), so
    a test can wait for that moment instead of sleeping for a guessed time.
    The library's own handle is not touched."""

    def __init__(self, dev):
        lib = ctypes.CDLL(find_library())
        lib.hid_open_path.restype = ctypes.c_void_p
        lib.hid_open_path.argtypes = [ctypes.c_char_p]
        lib.hid_read_timeout.restype = ctypes.c_int
        lib.hid_read_timeout.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int]
        lib.hid_close.restype = None
        lib.hid_close.argtypes = [ctypes.c_void_p]
        self._lib = lib
        self._buffer = ctypes.create_string_buffer(65)
        self._handle = lib.hid_open_path(dev.path.encode())
        if not self._handle:
            raise RuntimeError("cannot open a listener on %r" % dev.path)

    def next_report(self, timeout=10.0):
        """The next report the device sends (64 bytes), None when none came
        within timeout."""
        count = self._lib.hid_read_timeout(self._handle, self._buffer, 65, int(timeout * 1000))
        return self._buffer.raw[:count] if count > 0 else None

    def close(self):
        if self._handle:
            self._lib.hid_close(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


@contextlib.contextmanager
def when_requested(dev, condition, action, timeout=30.0):
    """Runs action() on a helper thread as soon as condition(dev.requests())
    holds, for a fault that must land in the middle of a command run in this
    thread; the condition is polled from the traffic log, boundedly. On
    leaving the block the helper is stopped and joined; returns (as the
    with-target) an Event set once the action ran."""
    done, stop = threading.Event(), threading.Event()

    def watch():
        give_up = time.monotonic() + timeout
        while not stop.is_set() and time.monotonic() < give_up:
            if condition(dev.requests()):
                action()
                done.set()
                return
            stop.wait(0.001)

    helper = threading.Thread(target=watch, daemon=True)
    helper.start()
    try:
        yield done
    finally:
        stop.set()
        helper.join(timeout + 5)
