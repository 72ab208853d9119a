"""What the commands of the `korvane` tool share: exit statuses, argument
types, choosing and opening a device, failure messages, JSON and numbers.

Every device operation goes through pykorvane, which raises a KorvaneError
for every failure. The commands run each operation inside ``dev.doing(...)``,
which turns that exception into a CliError naming the device and the
operation, followed by the exception's reason; main() prints it on standard
error and exits with 1.
"""
from __future__ import annotations

import argparse
import contextlib
import json
import math
import signal
import sys
import threading
import time
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterator, List, Optional, Type

import pykorvane
from pykorvane import DeviceBusyError, DeviceInfo, DeviceNotFoundError, DeviceOpenError, KorvaneError, RefusedError
from pykorvane.discovery import device_at

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130


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


def seconds(what: str, allow_zero: bool = False) -> Callable[[str], float]:
    """argparse type: a finite number of seconds, above zero (or zero too)."""
    def parse(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{what} must be a number of seconds, not '{text}'")
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
    parser.add_argument("--json", action="store_true", help="print JSON instead of text")


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


def attached(product: Optional[str] = None) -> List[DeviceInfo]:
    """Every attached device once, in enumeration order, duplicates included.

    Enumeration lists one record per HID interface: a record joins the
    latest device of its product and serial number that has no interface of
    its number yet, else it is a device of its own. So two devices with one
    serial number (or none) stay two, and a device with two interfaces is
    one, named by its first record (the one opened by serial number)."""
    found: List[DeviceInfo] = []
    interfaces: List[set] = []
    for info in pykorvane.devices(product):
        for index in range(len(found) - 1, -1, -1):
            same = (found[index].product, found[index].serial) == (info.product, info.serial)
            if same and info.interface not in interfaces[index]:
                interfaces[index].add(info.interface)
                break
        else:
            found.append(info)
            interfaces.append({info.interface})
    return found


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
    found = attached(model.product)
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
    afterwards. The device is opened by the record choose() found, without
    listing the devices again."""
    model: Model = getattr(args, "device", None) or args.model
    info = choose(model, getattr(args, "serial", None), getattr(args, "path", None))
    device = model.cls(path=info.path)
    name = info.label
    try:
        device._open_found(info)
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
    print(json.dumps(value, indent=2), flush=True)


def reading(value: float) -> float:
    """A meter reading as the tool shows it: the seven significant digits a
    single-precision number carries, as one float that text and JSON both
    print the same way (5.0, 0.25, 12.5)."""
    return float(f"{value:.7g}")


# ---------------------------------------------------------------- time

class _Interrupts:
    """Ctrl-C seen while a command runs. Python turns SIGINT into
    KeyboardInterrupt wherever the main thread happens to be, a finalizer
    included, where the exception is printed and dropped; the repeating
    commands look at this flag at every sample, so a Ctrl-C is never lost."""

    seen = threading.Event()


@contextlib.contextmanager
def interrupts_noted() -> Iterator[None]:
    """SIGINT raises KeyboardInterrupt as usual and is also noted for
    schedule(); the previous handler comes back afterwards. Only the main
    thread receives signals; elsewhere the block runs unchanged."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def note(number: int, frame: Any) -> None:
        _Interrupts.seen.set()
        raise KeyboardInterrupt

    _Interrupts.seen.clear()
    previous = signal.signal(signal.SIGINT, note)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)
        _Interrupts.seen.clear()


def schedule(interval: Optional[float], count: Optional[int], duration: Optional[float],
             start: Optional[float] = None, clock: Callable[[], float] = time.monotonic,
             sleep: Callable[[float], None] = time.sleep) -> Iterator[tuple]:
    """Yields (number, slot, missed) for each sample: slot n is due at
    start + n * interval, so the samples never drift. A slot already past
    when the previous sample ended is skipped (counted in missed) rather than
    run late; slots at or past the duration are not started.

    start is the clock's time of slot 0 (default: now). Without an
    interval the samples (one without a count) follow each other at once;
    with an interval and neither a count nor a duration they go on until
    interrupted.
    """
    if interval is None:
        for number in range(1 if count is None else count):
            yield number, 0.0, 0
        return
    if start is None:
        start = clock()
    slot, number, missed = 0, 0, 0
    while count is None or number < count:
        if _Interrupts.seen.is_set():
            raise KeyboardInterrupt
        due = slot * interval
        now = clock() - start
        if now > due + interval:
            # The previous sample overran: pick the next slot not yet past.
            skipped = math.floor((now - due) / interval)
            slot += skipped
            missed += skipped
            due = slot * interval
        if duration is not None and (due >= duration or now >= duration):
            return
        if due > now:
            sleep(due - now)
        yield number, due, missed
        number += 1
        slot += 1


@contextlib.contextmanager
def interrupt_deferred() -> Iterator[None]:
    """Ctrl-C during the block is held back until the block ends (then
    raised as KeyboardInterrupt), for steps that must not be cut short, such
    as switching hub ports back on. Only the main thread receives signals;
    elsewhere the block runs unchanged."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    caught: List[Any] = []
    previous = signal.signal(signal.SIGINT, lambda number, frame: caught.append(number))
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)
    if caught:
        raise KeyboardInterrupt


def as_json_keys(values: Dict[int, Any]) -> Dict[str, Any]:
    """Register numbers as JSON keys: "0x05"."""
    return {f"0x{key:02x}": value for key, value in values.items()}
