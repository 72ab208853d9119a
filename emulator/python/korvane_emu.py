"""Python side of the emulated HID library's control API (ctypes).

Tests and scripts that run with libkorvane_emu.so preloaded (or loaded
through this module) add emulated devices, set their state, inject faults
and read their traffic logs::

    from korvane_emu import Emulator
    emu = Emulator()
    dev = emu.add("Vanta", serial="VT-0001")
    dev.set_adc(3, 4660)
    ...
    dev.requests()   # [(0x13, 0x1303, b"")] after one channel read

The library is found in this order: the libkorvane_emu.so already loaded in
the process (the one serving the hid_* calls), $KORVANE_EMU_LIB, then a build
tree ($KORVANE_BUILD_DIR or build*/ beside the source tree).
"""
import ctypes
import glob
import os
from collections import namedtuple

__all__ = ["Emulator", "EmuDevice", "EmuError", "LogEntry", "HOST", "DEVICE", "find_library"]

HOST = 0    # a report the device received
DEVICE = 1  # a report the device sent

LogEntry = namedtuple("LogEntry", "kind report opcode attid value")

_LIB_NAME = "libkorvane_emu.so"


class EmuError(RuntimeError):
    """A control call the emulator refused (unknown device, bad argument,
    a block the model does not have)."""


class _LogEntryStruct(ctypes.Structure):
    _fields_ = [
        ("kind", ctypes.c_int),
        ("report", ctypes.c_uint8 * 64),
        ("opcode", ctypes.c_int),
        ("attid", ctypes.c_uint16),
        ("value", ctypes.c_uint8 * 64),
        ("value_len", ctypes.c_int),
    ]


def _loaded_library():
    try:
        with open("/proc/self/maps") as maps:
            for line in maps:
                path = line.split(None, 5)[-1].strip()
                if os.path.basename(path) == _LIB_NAME:
                    return path
    except OSError:
        pass
    return None


def find_library():
    """Path of the emulated HID library this process should control."""
    path = _loaded_library() or os.environ.get("KORVANE_EMU_LIB")
    if path:
        return path
    source_root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    build_dirs = [os.environ.get("KORVANE_BUILD_DIR")] if os.environ.get("KORVANE_BUILD_DIR") else []
    build_dirs += sorted(glob.glob(os.path.join(source_root, "build*")))
    for build in build_dirs:
        candidate = os.path.join(build, "emulator", _LIB_NAME)
        if os.path.isfile(candidate):
            return candidate
    raise EmuError("libkorvane_emu.so not found: preload it or set KORVANE_EMU_LIB")


def _declare(lib):
    i, u8, u16, u32 = ctypes.c_int, ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32
    s, ws, buf = ctypes.c_char_p, ctypes.c_wchar_p, ctypes.POINTER(ctypes.c_uint8)
    signatures = {
        "emu_reset": (None, []),
        "emu_add_device": (i, [s, s, s]),
        "emu_device_count": (i, []),
        "emu_get_path": (i, [i, ctypes.c_char_p, i]),
        "emu_set_ids": (i, [i, u16, u16]),
        "emu_set_product_string": (i, [i, ws]),
        "emu_set_serial_string": (i, [i, ws]),
        "emu_set_manufacturer_string": (i, [i, ws]),
        "emu_set_interface_count": (i, [i, i]),
        "emu_set_attribute": (i, [i, u16, buf, i]),
        "emu_get_attribute": (i, [i, u16, buf, i]),
        "emu_remove_attribute": (i, [i, u16]),
        "emu_set_gpio_external": (i, [i, u32, u32]),
        "emu_set_adc": (i, [i, i, u32]),
        "emu_add_i2c_target": (i, [i, u8]),
        "emu_remove_i2c_target": (i, [i, u8]),
        "emu_set_i2c_register": (i, [i, u8, u8, u16]),
        "emu_get_i2c_register": (i, [i, u8, u8]),
        "emu_set_reading": (i, [i, u16, ctypes.c_float, ctypes.c_float, i]),
        "emu_set_calibration": (i, [i, ctypes.c_int8, ctypes.c_int8, ctypes.c_int8, ctypes.c_int8]),
        "emu_calibration_count": (i, [i]),
        "emu_set_refuse_open": (i, [i, i]),
        "emu_set_mute": (i, [i, i]),
        "emu_set_answer_delay": (i, [i, i]),
        "emu_set_fail_attribute": (i, [i, u16, i]),
        "emu_set_raw_answer": (i, [i, u16, buf, i]),
        "emu_set_notifications_before_answer": (i, [i, i]),
        "emu_inject_report": (i, [i, buf, i]),
        "emu_unplug": (i, [i]),
        "emu_replug": (i, [i]),
        "emu_log_count": (i, [i]),
        "emu_log_get": (i, [i, i, ctypes.POINTER(_LogEntryStruct)]),
        "emu_log_clear": (i, [i]),
        "emu_open_handle_count": (i, []),
    }
    for name, (restype, argtypes) in signatures.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes


def _buffer(data):
    data = bytes(data)
    return (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(data or b"\0"), len(data)


def _utf8(text):
    return None if text is None else text.encode("utf-8")


class Emulator:
    """The emulated devices of this process."""

    def __init__(self, library=None):
        self.lib = ctypes.CDLL(library or find_library())
        _declare(self.lib)

    def reset(self):
        """Removes every device; handles still open on them turn dead."""
        self.lib.emu_reset()

    def add(self, model, serial=None, path=None):
        """Adds a "Vanta", "Brondel HUB" or "DMM"; path None gives /dev/emu-hidrawN."""
        dev_id = self.lib.emu_add_device(_utf8(model), _utf8(serial), _utf8(path))
        if dev_id < 0:
            raise ValueError("unknown model %r" % (model,))
        return EmuDevice(self, dev_id)

    def device(self, dev_id):
        """The device with this id (devices added through KORVANE_EMU_DEVICES included)."""
        if not 0 <= dev_id < self.device_count():
            raise EmuError("no device %d" % dev_id)
        return EmuDevice(self, dev_id)

    def device_count(self):
        return self.lib.emu_device_count()

    def open_handle_count(self):
        return self.lib.emu_open_handle_count()


class EmuDevice:
    """One emulated device; every method acts on it at once (thread-safe)."""

    def __init__(self, emulator, dev_id):
        self._emu = emulator
        self._lib = emulator.lib
        self.id = dev_id

    def __repr__(self):
        return "EmuDevice(%d, %r)" % (self.id, self.path)

    def _check(self, result, what):
        if result < 0:
            raise EmuError("%s refused for device %d" % (what, self.id))
        return result

    @property
    def path(self):
        out = ctypes.create_string_buffer(4096)
        self._check(self._lib.emu_get_path(self.id, out, len(out)), "get_path")
        return out.value.decode("utf-8", "surrogateescape")

    # Enumeration record
    def set_ids(self, vendor_id, product_id):
        self._check(self._lib.emu_set_ids(self.id, vendor_id, product_id), "set_ids")

    def set_product(self, text):
        self._check(self._lib.emu_set_product_string(self.id, text), "set_product")

    def set_serial(self, text):
        self._check(self._lib.emu_set_serial_string(self.id, text), "set_serial")

    def set_manufacturer(self, text):
        self._check(self._lib.emu_set_manufacturer_string(self.id, text), "set_manufacturer")

    def set_interfaces(self, count):
        self._check(self._lib.emu_set_interface_count(self.id, count), "set_interfaces")

    # Firmware state
    def set_attribute(self, attid, value):
        data, n = _buffer(value)
        self._check(self._lib.emu_set_attribute(self.id, attid, data, n), "set_attribute")

    def get_attribute(self, attid):
        """The value bytes a read of attid gets, None when it would fail."""
        out = (ctypes.c_uint8 * 64)()
        n = self._lib.emu_get_attribute(self.id, attid, out, len(out))
        return None if n < 0 else bytes(out[:n])

    def remove_attribute(self, attid):
        self._check(self._lib.emu_remove_attribute(self.id, attid), "remove_attribute")

    def set_gpio_external(self, mask, levels):
        self._check(self._lib.emu_set_gpio_external(self.id, mask, levels), "set_gpio_external")

    def set_adc(self, channel, value):
        self._check(self._lib.emu_set_adc(self.id, channel, value), "set_adc")

    def add_i2c_target(self, addr):
        self._check(self._lib.emu_add_i2c_target(self.id, addr), "add_i2c_target")

    def remove_i2c_target(self, addr):
        self._check(self._lib.emu_remove_i2c_target(self.id, addr), "remove_i2c_target")

    def set_i2c_register(self, addr, reg, value):
        self._check(self._lib.emu_set_i2c_register(self.id, addr, reg, value), "set_i2c_register")

    def get_i2c_register(self, addr, reg):
        """The register's contents, None when no target answers at addr."""
        value = self._lib.emu_get_i2c_register(self.id, addr, reg)
        return None if value < 0 else value

    def set_reading(self, attid, base, amplitude=0.0, period_ms=0):
        self._check(self._lib.emu_set_reading(self.id, attid, base, amplitude, period_ms), "set_reading")

    def set_calibration(self, lc, hc, lv, hv):
        self._check(self._lib.emu_set_calibration(self.id, lc, hc, lv, hv), "set_calibration")

    def calibration_count(self):
        return self._check(self._lib.emu_calibration_count(self.id), "calibration_count")

    # Faults
    def refuse_open(self, flag=True):
        self._check(self._lib.emu_set_refuse_open(self.id, int(bool(flag))), "refuse_open")

    def mute(self, flag=True):
        self._check(self._lib.emu_set_mute(self.id, int(bool(flag))), "mute")

    def answer_delay(self, ms):
        self._check(self._lib.emu_set_answer_delay(self.id, int(ms)), "answer_delay")

    def fail_attribute(self, attid, flag=True):
        self._check(self._lib.emu_set_fail_attribute(self.id, attid, int(bool(flag))), "fail_attribute")

    def raw_answer(self, attid, data):
        """Answers requests for attid with these bytes; None restores the firmware's answer."""
        if data is None:
            self._check(self._lib.emu_set_raw_answer(self.id, attid, None, -1), "raw_answer")
        else:
            buf, n = _buffer(data)
            self._check(self._lib.emu_set_raw_answer(self.id, attid, buf, n), "raw_answer")

    def notifications_before_answer(self, n):
        self._check(self._lib.emu_set_notifications_before_answer(self.id, n), "notifications_before_answer")

    def inject(self, data):
        buf, n = _buffer(data)
        self._check(self._lib.emu_inject_report(self.id, buf, n), "inject")

    def unplug(self):
        self._check(self._lib.emu_unplug(self.id), "unplug")

    def replug(self):
        self._check(self._lib.emu_replug(self.id), "replug")

    # Traffic log
    def log(self):
        """Every report in order: LogEntry(kind, report (64 bytes), opcode, attid, value)."""
        entries = []
        raw = _LogEntryStruct()
        for index in range(self._lib.emu_log_count(self.id)):
            if self._lib.emu_log_get(self.id, index, ctypes.byref(raw)) < 0:
                break  # cleared or trimmed meanwhile
            entries.append(LogEntry(raw.kind, bytes(raw.report), raw.opcode, raw.attid,
                                    bytes(raw.value[:raw.value_len])))
        return entries

    def requests(self):
        """(opcode, attid, value) of every report the host wrote; opcode 0 for malformed ones."""
        return [(e.opcode, e.attid, e.value) for e in self.log() if e.kind == HOST]

    def clear_log(self):
        self._check(self._lib.emu_log_clear(self.id), "clear_log")
