"""Python side of the emulated HID library's control API (ctypes).

Tests and scripts add emulated devices, set their state, inject faults and
read their traffic logs::

    from korvane_emu import Emulator      # pykorvane.emulator when installed
    emu = Emulator()
    dev = emu.add("Vanta", serial="VT-0001")
    dev.set_adc(3, 4660)
    ...
    dev.requests()   # [(0x13, 0x1303, b"")] after one channel read

The library is found in this order: the libkorvane_emu.so already loaded in
the process (preloaded by korvane-emu, the one serving the hid_* calls),
$KORVANE_EMU_LIB, the copy next to this module (in the installed package),
then a build tree ($KORVANE_BUILD_DIR or build*/ beside the source tree).

A program run under korvane-emu has the library preloaded: every hidapi
call in the process already reaches the emulated devices. Otherwise the
first Emulator chooses the emulated library as the Korvane library's HID
backend, which works at any time before the first listing or open: after
``import pykorvane`` or ``import korvane`` it tells the loaded library
directly; before, it sets ``KORVANE_BACKEND=emulator`` and
``KORVANE_EMU_LIB`` for the library to read at its first listing or open
(child processes inherit them, as they inherit korvane-emu's preload). Once
a listing or open has used the system's hidapi, the Emulator refuses to
start (EmuError) instead of adding devices nobody would see.
"""
from __future__ import annotations

import ctypes
import glob
import operator
import os
import typing
from typing import Any, List, Optional, Tuple

__all__ = ["Emulator", "EmuDevice", "EmuError", "LogEntry", "HOST", "DEVICE", "find_library", "loaded_library"]

HOST = 0    # a report the device received
DEVICE = 1  # a report the device sent


class LogEntry(typing.NamedTuple):
    """One report in a device's traffic log."""

    kind: int
    report: bytes
    opcode: int
    attid: int
    value: bytes


_LIB_NAME = "libkorvane_emu.so"


class EmuError(RuntimeError):
    """A control call the emulator refused (unknown device, bad argument,
    a block the model does not have)."""


class _LogEntryStruct(ctypes.Structure):
    kind: int
    report: Any
    opcode: int
    attid: int
    value: Any
    value_len: int
    _fields_ = [
        ("kind", ctypes.c_int),
        ("report", ctypes.c_uint8 * 64),
        ("opcode", ctypes.c_int),
        ("attid", ctypes.c_uint16),
        ("value", ctypes.c_uint8 * 64),
        ("value_len", ctypes.c_int),
    ]


def loaded_library() -> Optional[str]:
    """Path of the emulated HID library loaded in this process, None when none is."""
    try:
        with open("/proc/self/maps") as maps:
            for line in maps:
                path = line.split(None, 5)[-1].strip()
                if os.path.basename(path) == _LIB_NAME:
                    return path
    except OSError:
        pass
    return None


def find_library() -> str:
    """Path of the emulated HID library this process should control."""
    path = loaded_library() or os.environ.get("KORVANE_EMU_LIB")
    if path:
        return path
    here = os.path.dirname(os.path.abspath(__file__))
    # In lib/ beside this module in pykorvane/emulator (a folder that is no
    # package, so module finders pass the library by), or there from the
    # top-level copy of the installed package.
    for candidate in (os.path.join(here, "lib", _LIB_NAME),
                      os.path.join(here, "pykorvane", "emulator", "lib", _LIB_NAME)):
        if os.path.isfile(candidate):
            return candidate
    source_root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    build_env = os.environ.get("KORVANE_BUILD_DIR")
    build_dirs = [build_env] if build_env else []
    build_dirs += sorted(glob.glob(os.path.join(source_root, "build*")))
    for build in build_dirs:
        candidate = os.path.join(build, "emulator", _LIB_NAME)
        if os.path.isfile(candidate):
            return candidate
    raise EmuError("libkorvane_emu.so not found: preload it or set KORVANE_EMU_LIB")


def _preloaded(lib: ctypes.CDLL) -> bool:
    """True when the process's own hidapi symbols are the library's
    (LD_PRELOAD, korvane-emu): every hidapi user then reaches it."""
    try:
        first = ctypes.cast(ctypes.CDLL(None).hid_enumerate, ctypes.c_void_p).value
    except AttributeError:
        return False
    return first == ctypes.cast(lib.hid_enumerate, ctypes.c_void_p).value


def _loaded_core() -> Optional[ctypes.CDLL]:
    """The Korvane C++ library when a Korvane module has loaded it."""
    try:
        with open("/proc/self/maps") as maps:
            for line in maps:
                path = line.split(None, 5)[-1].strip()
                if os.path.basename(path).startswith("libkorvane.so"):
                    return ctypes.CDLL(path)
    except OSError:
        pass
    return None


def _choose_backend(path: str) -> None:
    """Makes the emulated library at path the Korvane library's HID backend."""
    core = _loaded_core()
    if core is None:
        # Read by the library at its first listing or open.
        os.environ["KORVANE_BACKEND"] = "emulator"
        os.environ["KORVANE_EMU_LIB"] = path
        return
    use = core.korvane_use_hid_backend
    use.restype = ctypes.c_int
    use.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]
    message = ctypes.create_string_buffer(1024)
    if use(b"emulator", os.fsencode(path), message, len(message)) != 0:
        raise EmuError(message.value.decode("utf-8", "replace") +
                       "; create the Emulator earlier, or run the program under korvane-emu")


def _load(path: str) -> ctypes.CDLL:
    """The library, with the Korvane library's hidapi calls going to it."""
    try:
        lib = ctypes.CDLL(path)
    except OSError as error:
        raise EmuError(f"the emulated HID library cannot be loaded from {path}: {error}") from None
    if not _preloaded(lib):
        _choose_backend(path)
    return lib


def _declare(lib: ctypes.CDLL) -> None:
    i, u8, u16, u32 = ctypes.c_int, ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32
    s, ws, buf = ctypes.c_char_p, ctypes.c_wchar_p, ctypes.POINTER(ctypes.c_uint8)
    signatures: "dict[str, Tuple[Any, List[Any]]]" = {
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
        "emu_delay_next_answer": (i, [i, i]),
        "emu_resize_next_answer": (i, [i, i]),
        "emu_duplicate_next_answer": (i, [i]),
        "emu_unplug": (i, [i]),
        "emu_replug": (i, [i]),
        "emu_log_count": (i, [i]),
        "emu_log_get": (i, [i, i, ctypes.POINTER(_LogEntryStruct)]),
        "emu_log_clear": (i, [i]),
        "emu_open_handle_count": (i, []),
        "emu_save_state": (i, [s]),
        "emu_load_state": (i, [s]),
        "emu_state_error": (i, [ctypes.c_char_p, i]),
    }
    for name, (restype, argtypes) in signatures.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes


def _buffer(data: bytes) -> Tuple[Any, int]:
    data = bytes(data)
    return (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(data or b"\0"), len(data)


def _utf8(text: Optional[str]) -> Optional[bytes]:
    return None if text is None else text.encode("utf-8")


# The C argument types of the control API: the values each one holds.
_C_RANGES = {"uint8": (0, 0xFF), "uint16": (0, 0xFFFF), "uint32": (0, 0xFFFFFFFF),
             "int8": (-0x80, 0x7F), "int": (-0x80000000, 0x7FFFFFFF)}


def _fit(name: str, value: Any, ctype: str) -> int:
    """value as an int its C argument type holds. ctypes would pass only the
    low bits of a wider one (2**40 + 7 as a uint32 is 7): OverflowError
    instead; TypeError for a value that is no integer."""
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    low, high = _C_RANGES[ctype]
    if not low <= number <= high:
        raise OverflowError(f"{name} {number} does not fit in {ctype} ({low}..{high})")
    return number


class Emulator:
    """The emulated devices of this process."""

    def __init__(self, library: Optional[str] = None) -> None:
        self.lib = _load(library or find_library())
        _declare(self.lib)

    def reset(self) -> None:
        """Removes every device; handles still open on them turn dead."""
        self.lib.emu_reset()

    def add(self, model: str, serial: Optional[str] = None, path: Optional[str] = None) -> EmuDevice:
        """Adds a "Vanta", "Brondel HUB" or "DMM"; path None gives /dev/emu-hidrawN."""
        dev_id = int(self.lib.emu_add_device(_utf8(model), _utf8(serial), _utf8(path)))
        if dev_id < 0:
            raise ValueError("unknown model %r" % (model,))
        return EmuDevice(self, dev_id)

    def device(self, dev_id: int) -> EmuDevice:
        """The device with this id (devices added through KORVANE_EMU_DEVICES included)."""
        if not 0 <= dev_id < self.device_count():
            raise EmuError("no device %d" % dev_id)
        return EmuDevice(self, dev_id)

    def devices(self) -> List[EmuDevice]:
        """Every device, in the order they were added (ids 0, 1, ...)."""
        return [EmuDevice(self, dev_id) for dev_id in range(self.device_count())]

    def device_count(self) -> int:
        return int(self.lib.emu_device_count())

    def open_handle_count(self) -> int:
        return int(self.lib.emu_open_handle_count())

    def _state_call(self, fn: Any, path: "str | os.PathLike[str]") -> None:
        if fn(os.fsencode(path)) < 0:
            message = ctypes.create_string_buffer(1024)
            self.lib.emu_state_error(message, len(message))
            raise EmuError(message.value.decode("utf-8", "replace"))

    def save_state(self, path: "str | os.PathLike[str]") -> None:
        """Writes every device and its firmware state to a JSON file (atomically)."""
        self._state_call(self.lib.emu_save_state, path)

    def load_state(self, path: "str | os.PathLike[str]") -> None:
        """Replaces every device with those of a state file; EmuError (devices
        unchanged) when the file cannot be read or is not a state file."""
        self._state_call(self.lib.emu_load_state, path)


class EmuDevice:
    """One emulated device; every method acts on it at once (thread-safe)."""

    def __init__(self, emulator: Emulator, dev_id: int) -> None:
        self._emu = emulator
        self._lib = emulator.lib
        self.id = dev_id

    def __repr__(self) -> str:
        return "EmuDevice(%d, %r)" % (self.id, self.path)

    def _check(self, result: Any, what: str) -> int:
        if result < 0:
            raise EmuError("%s refused for device %d" % (what, self.id))
        return int(result)

    @property
    def path(self) -> str:
        out = ctypes.create_string_buffer(4096)
        self._check(self._lib.emu_get_path(self.id, out, len(out)), "get_path")
        return out.value.decode("utf-8", "surrogateescape")

    # Enumeration record
    def set_ids(self, vendor_id: int, product_id: int) -> None:
        self._check(self._lib.emu_set_ids(self.id, _fit("vendor_id", vendor_id, "uint16"),
                                          _fit("product_id", product_id, "uint16")), "set_ids")

    def set_product(self, text: Optional[str]) -> None:
        self._check(self._lib.emu_set_product_string(self.id, text), "set_product")

    def set_serial(self, text: Optional[str]) -> None:
        self._check(self._lib.emu_set_serial_string(self.id, text), "set_serial")

    def set_manufacturer(self, text: Optional[str]) -> None:
        self._check(self._lib.emu_set_manufacturer_string(self.id, text), "set_manufacturer")

    def set_interfaces(self, count: int) -> None:
        self._check(self._lib.emu_set_interface_count(self.id, _fit("count", count, "int")), "set_interfaces")

    # Firmware state
    def set_attribute(self, attid: int, value: bytes) -> None:
        data, n = _buffer(value)
        self._check(self._lib.emu_set_attribute(self.id, _fit("attid", attid, "uint16"), data, n),
                    "set_attribute")

    def get_attribute(self, attid: int) -> Optional[bytes]:
        """The value bytes a read of attid gets, None when it would fail."""
        out = (ctypes.c_uint8 * 64)()
        n = int(self._lib.emu_get_attribute(self.id, _fit("attid", attid, "uint16"), out, len(out)))
        return None if n < 0 else bytes(out[:n])

    def remove_attribute(self, attid: int) -> None:
        self._check(self._lib.emu_remove_attribute(self.id, _fit("attid", attid, "uint16")), "remove_attribute")

    def set_gpio_external(self, mask: int, levels: int) -> None:
        self._check(self._lib.emu_set_gpio_external(self.id, _fit("mask", mask, "uint32"),
                                                    _fit("levels", levels, "uint32")), "set_gpio_external")

    def set_adc(self, channel: int, value: int) -> None:
        self._check(self._lib.emu_set_adc(self.id, _fit("channel", channel, "int"),
                                          _fit("value", value, "uint32")), "set_adc")

    def add_i2c_target(self, addr: int) -> None:
        self._check(self._lib.emu_add_i2c_target(self.id, _fit("addr", addr, "uint8")), "add_i2c_target")

    def remove_i2c_target(self, addr: int) -> None:
        self._check(self._lib.emu_remove_i2c_target(self.id, _fit("addr", addr, "uint8")), "remove_i2c_target")

    def set_i2c_register(self, addr: int, reg: int, value: int) -> None:
        self._check(self._lib.emu_set_i2c_register(self.id, _fit("addr", addr, "uint8"), _fit("reg", reg, "uint8"),
                                                   _fit("value", value, "uint16")), "set_i2c_register")

    def get_i2c_register(self, addr: int, reg: int) -> Optional[int]:
        """The register's contents, None when no target answers at addr."""
        value = int(self._lib.emu_get_i2c_register(self.id, _fit("addr", addr, "uint8"), _fit("reg", reg, "uint8")))
        return None if value < 0 else value

    def set_reading(self, attid: int, base: float, amplitude: float = 0.0, period_ms: int = 0) -> None:
        self._check(self._lib.emu_set_reading(self.id, _fit("attid", attid, "uint16"), base, amplitude,
                                              _fit("period_ms", period_ms, "int")), "set_reading")

    def set_calibration(self, lc: int, hc: int, lv: int, hv: int) -> None:
        offsets = [_fit(name, value, "int8") for name, value in (("lc", lc), ("hc", hc), ("lv", lv), ("hv", hv))]
        self._check(self._lib.emu_set_calibration(self.id, *offsets), "set_calibration")

    def calibration_count(self) -> int:
        return self._check(self._lib.emu_calibration_count(self.id), "calibration_count")

    # Faults
    def refuse_open(self, flag: bool = True) -> None:
        self._check(self._lib.emu_set_refuse_open(self.id, int(bool(flag))), "refuse_open")

    def mute(self, flag: bool = True) -> None:
        self._check(self._lib.emu_set_mute(self.id, int(bool(flag))), "mute")

    def answer_delay(self, ms: int) -> None:
        self._check(self._lib.emu_set_answer_delay(self.id, _fit("ms", ms, "int")), "answer_delay")

    def fail_attribute(self, attid: int, flag: bool = True) -> None:
        self._check(self._lib.emu_set_fail_attribute(self.id, _fit("attid", attid, "uint16"), int(bool(flag))),
                    "fail_attribute")

    def raw_answer(self, attid: int, data: Optional[bytes]) -> None:
        """Answers requests for attid with these bytes; None restores the firmware's answer."""
        attid = _fit("attid", attid, "uint16")
        if data is None:
            self._check(self._lib.emu_set_raw_answer(self.id, attid, None, -1), "raw_answer")
        else:
            buf, n = _buffer(data)
            self._check(self._lib.emu_set_raw_answer(self.id, attid, buf, n), "raw_answer")

    def notifications_before_answer(self, n: int) -> None:
        self._check(self._lib.emu_set_notifications_before_answer(self.id, _fit("n", n, "int")),
                    "notifications_before_answer")

    def inject(self, data: bytes) -> None:
        """The device sends this report (0..64 bytes, zero padded) now, unasked:
        a notification, or a stray or stale answer. EmuError while unplugged."""
        buf, n = _buffer(data)
        self._check(self._lib.emu_inject_report(self.id, buf, n), "inject")

    def delay_next_answer(self, ms: int) -> None:
        """Only the answer to the next request becomes readable ms (0..600000)
        later, on top of any answer_delay; answers to later requests are prompt
        and overtake it."""
        if not 0 <= ms <= 600000:
            raise ValueError("delay %r ms is outside 0..600000" % (ms,))
        self._check(self._lib.emu_delay_next_answer(self.id, int(ms)), "delay_next_answer")

    def resize_next_answer(self, length: int) -> None:
        """The next success answer (read or write, raw answers excepted) carries
        a value of length (0..61) bytes: cut, or padded with 0xA5, its length
        byte 3 + length. Failure answers leave it armed."""
        if not 0 <= length <= 61:
            raise ValueError("value length %r is outside 0..61" % (length,))
        self._check(self._lib.emu_resize_next_answer(self.id, int(length)), "resize_next_answer")

    def duplicate_next_answer(self) -> None:
        """The next answer goes out twice, back to back."""
        self._check(self._lib.emu_duplicate_next_answer(self.id), "duplicate_next_answer")

    def unplug(self) -> None:
        self._check(self._lib.emu_unplug(self.id), "unplug")

    def replug(self) -> None:
        self._check(self._lib.emu_replug(self.id), "replug")

    # Traffic log
    def log(self) -> List[LogEntry]:
        """Every report in order: LogEntry(kind, report (64 bytes), opcode, attid, value)."""
        entries = []
        raw = _LogEntryStruct()
        for index in range(int(self._lib.emu_log_count(self.id))):
            if self._lib.emu_log_get(self.id, index, ctypes.byref(raw)) < 0:
                break  # cleared or trimmed meanwhile
            entries.append(LogEntry(raw.kind, bytes(raw.report), raw.opcode, raw.attid,
                                    bytes(raw.value[:raw.value_len])))
        return entries

    def requests(self) -> List[Tuple[int, int, bytes]]:
        """(opcode, attid, value) of every report the host wrote; opcode 0 for malformed ones."""
        return [(e.opcode, e.attid, e.value) for e in self.log() if e.kind == HOST]

    def clear_log(self) -> None:
        self._check(self._lib.emu_log_clear(self.id), "clear_log")
