"""What the commands of the `korvane` tool share: exit statuses, argument
types, choosing and opening a device, failure messages, JSON and numbers.

Every device operation goes through pykorvane's public API only (a test
holds the tool to it: no name of pykorvane that starts with "_"), which
raises a KorvaneError for every failure. The commands run each operation
inside ``dev.doing(...)``, which turns that exception into a CliError naming
the device and the operation, followed by the exception's reason; main()
prints it on standard error and exits with 1.
"""
from __future__ import annotations

import argparse
import contextlib
import datetime
import json
import math
import re
import signal
import sys
import threading
import time
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterator, List, Optional, Tuple, Type

import pykorvane
from pykorvane import (
    DeviceBusyError,
    DeviceInfo,
    DeviceNotFoundError,
    DeviceOpenError,
    KorvaneError,
    RefusedError,
    devices,
)
from pykorvane.discovery import device_at

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130  # 128 + SIGINT
EXIT_TERMINATED = 143   # 128 + SIGTERM


class CliError(Exception):
    """A failure to report in words; main() prints it and exits with 1."""


class UsageError(Exception):
    """Bad arguments; the text is argparse's message, after the usage."""


# ---------------------------------------------------------------- models

@dataclass(frozen=True)
class Model:
    key: str
    cls: Type[pykorvane.Device]

    @property
    def product(self) -> str:
        return self.cls.PRODUCT


MODELS = {
    "vanta": Model("vanta", pykorvane.Vanta),
    "hub": Model("hub", pykorvane.Brondel),
    "dmm": Model("dmm", pykorvane.Dmm),
}
MODEL_ALIASES = {
    "vanta": "vanta",
    "hub": "hub", "brondel": "hub", "brondel hub": "hub",
    "dmm": "dmm", "meter": "dmm",
}


def model_type(text: str) -> Model:
    key = MODEL_ALIASES.get(text.strip().lower())
    if key is None:
        raise argparse.ArgumentTypeError(f"unknown model '{text}' (choose vanta, hub or dmm)")
    return MODELS[key]


# ---------------------------------------------------------------- argument types

def int_in(low: int, high: int, what: str, hex_range: bool = False) -> Callable[[str], int]:
    """argparse type: an integer (decimal, 0x.., 0o.., 0b..) within [low, high]."""
    limits = f"0x{low:02x} to 0x{high:02x}" if hex_range else f"{low} to {high}"

    def parse(text: str) -> int:
        try:
            value = int(text, 0)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{what} must be an integer, not '{text}'")
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"{what} must be from {limits}, not {text}")
        return value
    return parse


# Units a duration may carry; a plain number is seconds.
DURATION_UNITS = {"ms": 0.001, "s": 1.0, "m": 60.0, "min": 60.0, "h": 3600.0}
_DURATION = re.compile(r"\s*(?P<number>.*?)\s*(?P<unit>ms|s|min|m|h)?\s*")


def seconds(what: str, allow_zero: bool = False) -> Callable[[str], float]:
    """argparse type: a finite duration in seconds, above zero (or zero too):
    a plain number of seconds (0.5) or a number with a unit (500ms, 2s, 1m,
    1h)."""
    def parse(text: str) -> float:
        match = _DURATION.fullmatch(text)
        number, unit = (match["number"], match["unit"] or "s") if match else (text, "s")
        try:
            value = float(number) * DURATION_UNITS[unit]
        except ValueError:
            raise argparse.ArgumentTypeError(
                f"{what} must be a number of seconds or a duration like 500ms, 2s or 1m, "
                f"not '{text}'")
        if not math.isfinite(value) or value < 0 or (value == 0 and not allow_zero):
            raise argparse.ArgumentTypeError(
                f"{what} must be {'zero or more' if allow_zero else 'more than zero'}, not {text}")
        return value
    return parse


COUNT = int_in(1, 2**31 - 1, "the count")


class Parser(argparse.ArgumentParser):
    """Reports bad arguments with its own usage and keeps the exit inside
    main(), so the tool can be called from a program."""

    def error(self, message: str) -> None:  # type: ignore[override]
        self.print_usage(sys.stderr)
        raise UsageError(f"{self.prog}: error: {message}")


def add_selection(parser: argparse.ArgumentParser) -> None:
    """-s/--serial and -p/--path, taken before or after the command's name
    (SUPPRESS defaults: only an option given anywhere sets the value)."""
    parser.add_argument("-s", "--serial", default=argparse.SUPPRESS,
                        help="the device with this serial number (default: the first one found)")
    parser.add_argument("-p", "--path", default=argparse.SUPPRESS,
                        help="the device at this path, as `korvane list` shows it")


def add_device_choice(parser: argparse.ArgumentParser, devices: tuple, default: str) -> None:
    """-d/--device, for the commands that work on the blocks of several models."""
    def device(text: str) -> Model:
        model = model_type(text)
        if model.key not in devices:
            raise argparse.ArgumentTypeError(
                f"invalid choice: '{text}' (this command works on {' or '.join(devices)})")
        return model
    parser.add_argument("-d", "--device", type=device, default=argparse.SUPPRESS,
                        metavar="{" + ",".join(devices) + "}",
                        help=f"which model's block to use (default: {default})")


def add_device_options(parser: argparse.ArgumentParser, devices: tuple = (),
                       model: Optional[str] = None) -> None:
    """The selection options, and -d where the command works on the blocks
    of several models (``devices``, ``model`` the default)."""
    if devices:
        assert model is not None
        add_device_choice(parser, devices, model)
    add_selection(parser)


def add_actions(parser: argparse.ArgumentParser, devices: tuple = (), model: Optional[str] = None) -> Any:
    """The actions of a command. The device options are taken between the
    command and the action too."""
    add_device_options(parser, devices, model)
    actions = parser.add_subparsers(dest="action", metavar="ACTION", parser_class=Parser)
    actions.required = True
    return actions


def add_json(parser: argparse.ArgumentParser) -> None:
    """--json, also taken before the command (a SUPPRESS default, as for
    -s/-p); parse() makes args.json a bool."""
    parser.add_argument("--json", action="store_true", default=argparse.SUPPRESS,
                        help="print JSON instead of text")
    parser.set_defaults(takes_json=True)


def finish(parser: argparse.ArgumentParser, run: Callable, devices: tuple = (),
           model: Optional[str] = None, **defaults: Any) -> None:
    """The device options and the function the command runs, and the model
    opened() opens (unless -d chooses another). Called after the command's
    own arguments, so the help lists those first."""
    add_device_options(parser, devices, model)
    if model is not None:
        defaults["model"] = MODELS[model]
    parser.set_defaults(run=run, parser=parser, **defaults)


# ---------------------------------------------------------------- failures in words

class OpenDevice:
    """A device opened for one command, with its name for messages."""

    def __init__(self, device: Any, info: DeviceInfo) -> None:
        self.device = device
        self.info = info
        self.name = info.label

    @contextlib.contextmanager
    def doing(self, what: str, hint: str = "") -> Iterator[None]:
        """Turns a failure of the operations in the block into a CliError
        "NAME: what: reason", with hint appended to a refusal."""
        try:
            yield
        except KorvaneError as error:
            extra = f"; {hint}" if hint and isinstance(error, RefusedError) else ""
            raise CliError(f"{self.name}: {what}: {error.reason}{extra}") from error

    def fail(self, what: str, error: KorvaneError) -> CliError:
        return CliError(f"{self.name}: {what}: {error.reason}")


def choose(model: Model, serial: Optional[str], path: Optional[str]) -> DeviceInfo:
    """The attached device the options select, or a CliError saying what is attached."""
    if path is not None:
        try:
            at_path = device_at(path, model.product)
        except DeviceNotFoundError as error:
            raise CliError(error.reason)
        if at_path is None:
            raise CliError(f"no device attached at {path} (see `korvane list`)")
        return at_path
    found = devices(model.product)
    matching = [info for info in found if serial is None or info.serial == serial]
    if not matching:
        names = ", ".join(repr(info.serial) for info in found)
        what = model.product if serial is None else f"{model.product} with serial number '{serial}'"
        raise CliError(f"no {what} attached" + (f" (attached: {names})" if names else ""))
    chosen = matching[0]
    if len(matching) > 1:
        which = f"{len(matching)} {model.product} devices" + (
            f" with serial number '{serial}'" if serial is not None else "")
        print(f"korvane: note: {which} attached, using {chosen.label} at {chosen.path}; "
              f"choose one with {'--path' if serial is not None else '--serial or --path'}",
              file=sys.stderr)
    return chosen


@contextlib.contextmanager
def opened(args: argparse.Namespace) -> Iterator[OpenDevice]:
    """Opens the selected device of the command's model (-d, else the one
    finish() recorded or the command's MODEL argument); closes it
    afterwards. The device is opened by the record choose() found
    (DeviceInfo.open(), which does not list the devices again)."""
    model: Model = getattr(args, "device", None) or args.model
    info = choose(model, getattr(args, "serial", None), getattr(args, "path", None))
    name = info.label
    try:
        device = info.open()
    except DeviceBusyError:
        raise CliError(f"{name}: cannot be opened: another program holds it open")
    except DeviceOpenError:
        raise CliError(f"{name}: cannot be opened at {info.path}; check the access rights of its "
                       "device node (see the udev rule in docs/install.md)")
    except DeviceNotFoundError:  # unplugged since choose() listed it
        raise CliError(f"{name}: cannot be opened: it is no longer attached at {info.path}")
    try:
        yield OpenDevice(device, info)
    finally:
        device.close()


# ---------------------------------------------------------------- output

def print_json(value: Any) -> None:
    """JSON on standard output; non-finite numbers never get this far (see
    json_reading), so the output is always valid JSON."""
    print(json.dumps(value, indent=2, allow_nan=False), flush=True)


def reading(value: float) -> float:
    """A meter reading as the tool keeps it: the seven significant digits a
    single-precision number carries (5.0, 0.25, 12.5), as CSV and JSON
    write it."""
    return float(f"{value:.7g}")


def non_finite(value: float) -> str:
    """What a non-finite number is: "nan", "inf" or "-inf"."""
    return "nan" if math.isnan(value) else ("inf" if value > 0 else "-inf")


def json_reading(quantity: str, unit: str, value: float) -> Dict[str, Any]:
    """A reading for JSON: {"voltage_V": 5.0}, or for a non-finite one
    {"voltage_V": null, "voltage_invalid": "nan"} (JSON has no NaN)."""
    key = f"{quantity}_{unit}"
    if math.isfinite(value):
        return {key: value}
    return {key: None, f"{quantity}_invalid": non_finite(value)}


# Engineering steps of the SI prefixes text uses ("u" for micro).
SI_PREFIXES = {-12: "p", -9: "n", -6: "u", -3: "m", 0: "", 3: "k", 6: "M", 9: "G"}


def si(value: float, unit: str) -> str:
    """A quantity as text shows it: four significant digits with the SI
    prefix that puts 1 to 999 before the point: 5.000 V, 12.35 mA,
    250.0 uA, -1.500 mV; 0.000 V; nan V, inf V; beyond the prefixes
    1.000e-15 A."""
    if not math.isfinite(value):
        return f"{non_finite(value)} {unit}"
    if value == 0:
        return f"0.000 {unit}"
    # Rounded first, so 0.99996 becomes 1.000, not 1000 m.
    mantissa, _, exponent_text = f"{value:.3e}".partition("e")
    exponent = int(exponent_text)
    step = exponent // 3 * 3
    if step not in SI_PREFIXES:
        return f"{value:.3e} {unit}"
    sign, digits = ("-", mantissa[1:]) if mantissa.startswith("-") else ("", mantissa)
    digits = digits.replace(".", "")
    point = 1 + exponent - step
    return f"{sign}{digits[:point]}.{digits[point:]} {SI_PREFIXES[step]}{unit}"


def timestamp() -> str:
    """Now as rows carry it: ISO 8601, local time with its UTC offset, in
    milliseconds."""
    return datetime.datetime.now().astimezone().isoformat(timespec="milliseconds")


# ---------------------------------------------------------------- time

class Interrupted(KeyboardInterrupt):
    """Ctrl-C (SIGINT) or SIGTERM: the command stops as after Ctrl-C, and
    the tool exits with 128 + the signal's number."""

    def __init__(self, signum: int = signal.SIGINT) -> None:
        super().__init__()
        self.signum = int(signum)


# The signals that end a command the way Ctrl-C does.
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM)


class _Interrupts:
    """A stop signal seen while a command runs. Python runs the handler
    (which raises) wherever the main thread happens to be, a finalizer
    included, where the exception is printed and dropped; the repeating
    commands look at this flag at every sample, so a stop is never lost."""

    seen = threading.Event()
    signum = int(signal.SIGINT)


@contextlib.contextmanager
def interrupts_noted() -> Iterator[None]:
    """SIGINT and SIGTERM raise Interrupted (a KeyboardInterrupt) and are
    noted for Schedule; the previous handlers come back afterwards. Only the
    main thread receives signals; elsewhere the block runs unchanged."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def note(number: int, frame: Any) -> None:
        _Interrupts.signum = number
        _Interrupts.seen.set()
        raise Interrupted(number)

    _Interrupts.seen.clear()
    previous = {number: signal.signal(number, note) for number in STOP_SIGNALS}
    try:
        yield
    finally:
        for number, handler in previous.items():
            signal.signal(number, handler)
        _Interrupts.seen.clear()


class Schedule:
    """The samples of a repeating command: iterating yields (number, slot,
    missed) for each sample. Slot n is due at start + n * interval, so the
    samples never drift. A slot already past when the previous sample ended
    is skipped (counted in missed) rather than run late; slots at or past
    the duration are not started.

    start is the clock's time of slot 0 (default: now). Without an interval
    the samples (one without a count) follow each other at once; with an
    interval and neither a count nor a duration they go on until
    interrupted. After free_running() each sample starts when the previous
    one ended, without counting missed slots: for a device that cannot
    deliver the interval at all.
    """

    def __init__(self, interval: Optional[float], count: Optional[int], duration: Optional[float],
                 start: Optional[float] = None, clock: Callable[[], float] = time.monotonic,
                 sleep: Callable[[float], None] = time.sleep) -> None:
        self.interval, self.count, self.duration = interval, count, duration
        self.start, self.clock, self.sleep = start, clock, sleep
        self.free = False

    def free_running(self) -> None:
        self.free = True

    def __iter__(self) -> Iterator[Tuple[int, float, int]]:
        interval, count, duration = self.interval, self.count, self.duration
        if interval is None:
            for number in range(1 if count is None else count):
                yield number, 0.0, 0
            return
        start = self.clock() if self.start is None else self.start
        slot, number, missed = 0, 0, 0
        while count is None or number < count:
            if _Interrupts.seen.is_set():
                raise Interrupted(_Interrupts.signum)
            now = self.clock() - start
            if self.free:
                due = now
            else:
                due = slot * interval
                if now > due + interval:
                    # The previous sample overran: pick the next slot not yet past.
                    skipped = math.floor((now - due) / interval)
                    slot += skipped
                    missed += skipped
                    due = slot * interval
            if duration is not None and (due >= duration or now >= duration):
                return
            if due > now:
                self.sleep(due - now)
            yield number, due, missed
            number += 1
            slot += 1


def schedule(interval: Optional[float], count: Optional[int], duration: Optional[float],
             start: Optional[float] = None, clock: Callable[[], float] = time.monotonic,
             sleep: Callable[[float], None] = time.sleep) -> Iterator[Tuple[int, float, int]]:
    """The samples of a Schedule, for commands that never run it free."""
    return iter(Schedule(interval, count, duration, start, clock, sleep))


@contextlib.contextmanager
def interrupt_deferred() -> Iterator[None]:
    """Ctrl-C or SIGTERM during the block is held back until the block ends
    (then raised as Interrupted), for steps that must not be cut short,
    such as switching hub ports back on. Only the main thread receives
    signals; elsewhere the block runs unchanged."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    caught: List[int] = []
    previous = {number: signal.signal(number, lambda got, frame: caught.append(got))
                for number in STOP_SIGNALS}
    try:
        yield
    finally:
        for number, handler in previous.items():
            signal.signal(number, handler)
    if caught:
        raise Interrupted(caught[0])


def as_json_keys(values: Dict[int, Any]) -> Dict[str, Any]:
    """Register numbers as JSON keys: "0x05"."""
    return {f"0x{key:02x}": value for key, value in values.items()}
