"""Shared parts of the korvane command: models, argument types, opening devices.

Every device operation goes through the proxy module `korvane`. The
library reports failure with True from an operation or a sentinel from a
read; the commands turn those into a CliError, which main() prints on
standard error with exit status 1.
"""

import argparse
import collections
import contextlib
import json
import math
import sys

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130

# Failure result of the library's 32-bit reads (GPIO mask, ADC channel).
READ_FAILED_U32 = 0xFFFFFFFF

# A read that took this long before giving 0 probably ran into the library's
# wait bound (1 s), so the device is asked whether it still answers.
SLOW_ANSWER_S = 0.5

Model = collections.namedtuple("Model", "key product class_name")
MODELS = {
    "vanta": Model("vanta", "Vanta", "Vanta"),
    "hub": Model("hub", "Brondel HUB", "Brondel"),
    "dmm": Model("dmm", "DMM", "Dmm"),
}
MODEL_ALIASES = {
    "vanta": "vanta",
    "hub": "hub", "brondel": "hub", "brondel hub": "hub",
    "dmm": "dmm", "meter": "dmm",
}


class CliError(Exception):
    """A failure to report in words; main() prints it and exits with 1."""


def int_in(low, high, what, hex_range=False):
    """argparse type: an integer (decimal, 0x.., 0o.., 0b..) within [low, high]."""
    limits = f"0x{low:02x} to 0x{high:02x}" if hex_range else f"{low} to {high}"

    def parse(text):
        try:
            value = int(text, 0)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{what} must be an integer, not '{text}'")
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"{what} must be from {limits}, not {text}")
        return value
    return parse


def positive_float(what, allow_zero=False):
    def parse(text):
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{what} must be a number of seconds, not '{text}'")
        if not math.isfinite(value) or value < 0 or (value == 0 and not allow_zero):
            raise argparse.ArgumentTypeError(
                f"{what} must be {'zero or more' if allow_zero else 'more than zero'}, not {text}")
        return value
    return parse


def model_type(text):
    key = MODEL_ALIASES.get(text.strip().lower())
    if key is None:
        raise argparse.ArgumentTypeError(f"unknown model '{text}' (choose vanta, hub or dmm)")
    return MODELS[key]


class Parser(argparse.ArgumentParser):
    """Exits with EXIT_USAGE on bad arguments, as argparse does, but keeps
    the exit inside main() so it can be called from a program."""

    def error(self, message):
        self.print_usage(sys.stderr)
        raise UsageError(f"{self.prog}: error: {message}")


class UsageError(Exception):
    """Bad arguments; the text is argparse's message."""


def add_selection(parser, devices=None, default=None):
    """--serial (and --device where a command works on several models).

    Added to a command and to each of its actions with SUPPRESS defaults, so
    the option may stand before or after the action's name."""
    parser.add_argument("-s", "--serial", default=argparse.SUPPRESS,
                        help="serial number of the device (default: the first one found)")
    if devices:
        def device(text):
            model = model_type(text)
            if model.key not in devices:
                raise argparse.ArgumentTypeError(
                    f"invalid choice: '{text}' (this command works on {' or '.join(devices)})")
            return model
        parser.add_argument("-d", "--device", type=device, default=argparse.SUPPRESS,
                            metavar="{" + ",".join(devices) + "}",
                            help=f"which model's block to use (default: {default})")


def add_actions(parser, dest):
    actions = parser.add_subparsers(dest=dest, metavar="ACTION", parser_class=Parser)
    actions.required = True
    return actions


def add_command(commands, name, help, description, devices=None, default=None):
    """A command made of actions; returns the actions to add them to."""
    parser = commands.add_parser(name, help=help, description=description)
    add_selection(parser, devices, default)
    return add_actions(parser, "action")


def finish_action(parser, run, devices=None, default=None, **defaults):
    """The device selection and the function the action runs.

    Called after the action's own arguments, so the help lists those first."""
    add_selection(parser, devices, default)
    parser.set_defaults(run=run, **defaults)


def _describe(model, serial):
    return model.product if serial is None else f"{model.product} with serial number '{serial}'"


def find_path(kv, model, serial):
    """The path the library would open, or a CliError that says what is attached."""
    manager = kv.KorDeviceManager()
    serials = list(dict.fromkeys(manager.getSerialList(model.product)))
    if serial is None:
        path = manager.getPathByName(model.product)
    else:
        path = manager.getPathByNameAndSerial(model.product, serial)
    if path is None:
        attached = f" (attached: {', '.join(repr(s) for s in serials)})" if serials else ""
        raise CliError(f"no {_describe(model, serial)} attached{attached}")
    if serial is None and len(serials) > 1:
        print(f"korvane: note: {len(serials)} {model.product} devices attached, using "
              f"'{serials[0]}'; choose one with --serial", file=sys.stderr)
    return path


def identity(device):
    return {
        "vendor": device.getVendorName(),
        "product": device.getProductName(),
        "revision": device.getProductRevision(),
        "serial": device.getProductSerial(),
        "firmware": device.getFirmVersion(),
    }


class OpenDevice:
    """A model opened for one command; the name is used in messages."""

    def __init__(self, model, device, path):
        self.model = model
        self.device = device
        self.path = path
        serial = device.getProductSerial()
        self.name = f"{model.product} {serial}" if serial else model.product

    def answers(self):
        """Whether the device still answers, by one read whose failure is unambiguous.

        Used where a read's failure result is also a valid value (0 from an
        I2C register, an all-high GPIO mask)."""
        device = self.device
        if self.model.key == "dmm":
            return device.getCalibrationData() != ""
        if self.model.key == "hub":
            return device.getUsbPortStatus() == 0
        # ADC values are far narrower than 32 bits: all ones is only the failure.
        return device.adchw.analogRead(0) != READ_FAILED_U32

    def fail(self, what):
        """CliError for a failed operation, telling a silent device from a refusal."""
        if self.answers():
            return CliError(f"{self.name}: {what} failed (the device refused it)")
        return CliError(f"{self.name}: {what} failed: the device does not answer")


@contextlib.contextmanager
def opened(kv, model, serial):
    """Opens the model (by serial number when given), closes it afterwards."""
    path = find_path(kv, model, serial)
    device = getattr(kv, model.class_name)()
    try:
        failed = device.open() if serial is None else device.open(serial)
        if failed:
            raise CliError(f"{_describe(model, serial)} at {path} cannot be opened; check the "
                           "access rights of its device node (see the udev rule in docs/install.md)")
        # openPath succeeds even when none of the identity reads is answered.
        if not any(identity(device).values()):
            raise CliError(f"{_describe(model, serial)} at {path} does not answer")
        yield OpenDevice(model, device, path)
    finally:
        device.close()


def serial_of(args):
    return getattr(args, "serial", None)


def device_model_of(args, default_key):
    return getattr(args, "device", None) or MODELS[default_key]


def open_chosen(kv, args, default_key):
    """The model chosen with --device (default_key's without it), opened by
    --serial when given."""
    return opened(kv, device_model_of(args, default_key), serial_of(args))


def print_json(value):
    print(json.dumps(value, indent=2))
