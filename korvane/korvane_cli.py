"""korvane: the common jobs on Korvane devices from a shell.

Every device operation goes through the proxy module `korvane`; this file
parses arguments, picks the device, formats results and turns the library's
failure results (True from an operation, a sentinel from a read) into a
message on standard error and a non-zero exit status.

Exit status: 0 success, 1 a device operation failed, 2 bad arguments,
130 interrupted.
"""

import argparse
import collections
import contextlib
import csv
import datetime
import json
import math
import os
import struct
import sys
import time

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130

# Failure results of the library's reads.
READ_FAILED_U32 = 0xFFFFFFFF
# Meter readings fail as -999.9 in single precision, widened to a Python float.
METER_FAILED = struct.unpack("<f", struct.pack("<f", -999.9))[0]

# A read that took this long before giving 0 probably ran into the library's
# wait bound (1 s), so the device is asked whether it still answers.
SLOW_ANSWER_S = 0.5

# After this many samples in a row without a single reading the meter is
# taken as gone and the log stops.
LOG_MAX_SILENT_SAMPLES = 3

HUB_PORTS = 32
HUB_DEFAULT_SHOWN_PORTS = 4
PIN_COUNT = 32
ADC_CHANNELS = 8

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

PIN_MODES = ("output", "input", "pullup")
LEVELS = {"0": False, "low": False, "1": True, "high": True}


class CliError(Exception):
    """A failure to report in words; main() prints it and exits with 1."""


# --------------------------------------------------------------------------
# Argument parsing


def _int_in(low, high, what, hex_range=False):
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


def _positive_float(what, allow_zero=False):
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


def _model(text):
    key = MODEL_ALIASES.get(text.strip().lower())
    if key is None:
        raise argparse.ArgumentTypeError(f"unknown model '{text}' (choose vanta, hub or dmm)")
    return MODELS[key]


def parse_port_list(text):
    """'all', or ports and ranges like '1,3' or '2-4' or '1,3-5': sorted list or 'all'."""
    if text.strip().lower() == "all":
        return "all"
    ports = set()
    for part in text.split(","):
        part = part.strip()
        first, sep, last = part.partition("-")
        try:
            low = int(first)
            high = int(last) if sep else low
        except ValueError:
            raise argparse.ArgumentTypeError(
                f"ports must be 'all', a list like 1,3 or a range like 2-4, not '{text}'")
        if not 1 <= low <= high <= HUB_PORTS:
            raise argparse.ArgumentTypeError(
                f"ports are numbered 1 to {HUB_PORTS} and ranges go upwards, not '{part}'")
        ports.update(range(low, high + 1))
    return sorted(ports)


def parse_register_range(text):
    """i2cdump's '-r first-last' (or a single register): (first, last)."""
    first, sep, last = text.partition("-")
    register = _int_in(0, 0xFF, "a register", hex_range=True)
    try:
        low = register(first.strip())
        high = register(last.strip()) if sep else low
    except argparse.ArgumentTypeError as error:
        raise argparse.ArgumentTypeError(f"bad range '{text}': {error}")
    if low > high:
        raise argparse.ArgumentTypeError(f"bad range '{text}': the first register is above the last")
    return low, high


class _Parser(argparse.ArgumentParser):
    """Exits with EXIT_USAGE on bad arguments, as argparse does, but keeps
    the exit inside main() so it can be called from a program."""

    def error(self, message):
        self.print_usage(sys.stderr)
        raise _UsageError(f"{self.prog}: error: {message}")


class _UsageError(Exception):
    pass


def _selection(parser, devices=None, default=None):
    """--serial (and --device where a command works on several models).

    Added to a command and to each of its actions with SUPPRESS defaults, so
    the option may stand before or after the action's name."""
    parser.add_argument("-s", "--serial", default=argparse.SUPPRESS,
                        help="serial number of the device (default: the first one found)")
    if devices:
        def device(text):
            model = _model(text)
            if model.key not in devices:
                raise argparse.ArgumentTypeError(
                    f"invalid choice: '{text}' (this command works on {' or '.join(devices)})")
            return model
        parser.add_argument("-d", "--device", type=device, default=argparse.SUPPRESS,
                            metavar="{" + ",".join(devices) + "}",
                            help=f"which model's block to use (default: {default})")


def _actions(parser, dest):
    actions = parser.add_subparsers(dest=dest, metavar="ACTION", parser_class=_Parser)
    actions.required = True
    return actions


def build_parser():
    parser = _Parser(
        prog="korvane",
        description="Korvane devices from the shell: the I/O board Vanta, the "
                    "Brondel HUB and the DMM meter.",
        epilog="Exit status: 0 success, 1 a device operation failed, 2 bad arguments.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    commands.required = True

    p = commands.add_parser("list", help="list the attached devices",
                            description="List the attached supported devices.")
    p.add_argument("--json", action="store_true", help="print a JSON array")
    p.set_defaults(run=cmd_list)

    p = commands.add_parser("info", help="identity of one device",
                            description="Open one device and print its identity.")
    p.add_argument("model", type=_model, metavar="MODEL", help="vanta, hub or dmm")
    _selection(p)
    p.add_argument("--json", action="store_true", help="print a JSON object")
    p.set_defaults(run=cmd_info)

    _add_gpio(commands)
    _add_adc(commands)
    _add_i2c(commands)
    _add_hub(commands)
    _add_meter(commands)
    return parser


def _add_gpio(commands):
    gpio = commands.add_parser(
        "gpio", help="pin modes and levels (Vanta or hub)",
        description="Set a pin's mode, drive or read a pin, read or write the "
                    "whole level mask (bit n = pin n).")
    sel = (("vanta", "hub"), "vanta")
    _selection(gpio, *sel)
    actions = _actions(gpio, "action")
    pin = _int_in(0, PIN_COUNT - 1, "a pin")

    p = actions.add_parser("mode", help="set a pin's mode", description="Set a pin's mode.")
    p.add_argument("pin", type=pin, help="pin number, 0 to 31")
    p.add_argument("mode", choices=PIN_MODES, help="output, input or pullup (input with pull-up)")
    _selection(p, *sel)
    p.set_defaults(run=cmd_gpio_mode)

    p = actions.add_parser("write", help="drive a pin high or low", description="Drive a pin.")
    p.add_argument("pin", type=pin, help="pin number, 0 to 31")
    p.add_argument("level", type=str.lower, choices=sorted(LEVELS), help="1/high or 0/low")
    _selection(p, *sel)
    p.set_defaults(run=cmd_gpio_write)

    p = actions.add_parser("read", help="read a pin's level (prints 1 or 0)",
                           description="Read a pin's level; prints 1 (high) or 0 (low).")
    p.add_argument("pin", type=pin, help="pin number, 0 to 31")
    _selection(p, *sel)
    p.set_defaults(run=cmd_gpio_read)

    p = actions.add_parser("mask", help="read or write the whole level mask",
                           description="Without VALUE print the level mask; with VALUE write it.")
    p.add_argument("value", nargs="?", type=_int_in(0, 0xFFFFFFFF, "the mask", hex_range=True),
                   help="new mask, e.g. 0x0000000f")
    _selection(p, *sel)
    p.set_defaults(run=cmd_gpio_mask)


def _add_adc(commands):
    p = commands.add_parser(
        "adc", help="read the Vanta's analogue inputs",
        description="Read one ADC channel or all eight, once or repeatedly. "
                    "Values are printed as the board reports them (unscaled).")
    p.add_argument("channel", nargs="?", default="all", metavar="CHANNEL",
                   type=_adc_channel, help="0 to 7, or all (default)")
    p.add_argument("-i", "--interval", type=_positive_float("the interval"),
                   help="seconds between readings (default: read once)")
    p.add_argument("-n", "--count", type=_int_in(1, 2**31 - 1, "the count"),
                   help="number of readings (default: 1, or until Ctrl-C with --interval)")
    _selection(p)
    p.set_defaults(run=cmd_adc)


def _adc_channel(text):
    if text.strip().lower() == "all":
        return "all"
    return _int_in(0, ADC_CHANNELS - 1, "a channel")(text)


def _add_i2c(commands):
    i2c = commands.add_parser(
        "i2c", help="registers of an I2C target (Vanta or DMM bridge)",
        description="Set the I2C target address and read, write or dump its "
                    "16-bit registers.")
    sel = (("vanta", "dmm"), "vanta")
    _selection(i2c, *sel)
    actions = _actions(i2c, "action")
    address = _int_in(0, 0x7F, "an I2C address", hex_range=True)
    register = _int_in(0, 0xFF, "a register", hex_range=True)

    def target_option(p):
        p.add_argument("-a", "--addr", type=address, default=argparse.SUPPRESS,
                       help="set the target address first (otherwise the bridge keeps its current one)")

    p = actions.add_parser("addr", help="set the target address",
                           description="Set the bridge's target address (7-bit).")
    p.add_argument("address", type=address, help="e.g. 0x40")
    _selection(p, *sel)
    p.set_defaults(run=cmd_i2c_addr)

    p = actions.add_parser("read", help="read one register", description="Read one 16-bit register.")
    p.add_argument("register", type=register, help="0x00 to 0xff")
    target_option(p)
    _selection(p, *sel)
    p.set_defaults(run=cmd_i2c_read)

    p = actions.add_parser("write", help="write one register", description="Write one 16-bit register.")
    p.add_argument("register", type=register, help="0x00 to 0xff")
    p.add_argument("value", type=_int_in(0, 0xFFFF, "the value", hex_range=True), help="0x0000 to 0xffff")
    target_option(p)
    _selection(p, *sel)
    p.set_defaults(run=cmd_i2c_write)

    p = actions.add_parser("dump", help="dump registers as a grid",
                           description="Dump 16-bit registers in i2cdump's word layout.")
    p.add_argument("-r", "--range", dest="range", type=parse_register_range, default=(0, 0xFF),
                   metavar="FIRST-LAST", help="registers to dump (default 0x00-0xff)")
    target_option(p)
    _selection(p, *sel)
    p.set_defaults(run=cmd_i2c_dump)


def _add_hub(commands):
    hub = commands.add_parser(
        "hub", help="port power of the Brondel HUB",
        description="Show the hub's port status and switch its ports. PORTS is "
                    "'all', a list like 1,3 or a range like 2-4 (ports 1 to 32).")
    _selection(hub)
    actions = _actions(hub, "action")

    def shown_ports(p):
        p.add_argument("--ports", dest="shown_ports", type=_int_in(1, HUB_PORTS, "the number of ports"),
                       default=HUB_DEFAULT_SHOWN_PORTS, metavar="N",
                       help=f"how many ports the status lists (default {HUB_DEFAULT_SHOWN_PORTS}; "
                            "ports switched on beyond it are listed too)")
        p.add_argument("--json", action="store_true", help="print the status as JSON")

    p = actions.add_parser("status", help="show which ports are on", description="Show the port status.")
    shown_ports(p)
    _selection(p)
    p.set_defaults(run=cmd_hub_status)

    for name, verb in (("on", "switch ports on"), ("off", "switch ports off")):
        p = actions.add_parser(name, help=verb, description=f"{verb.capitalize()}, then show the status.")
        p.add_argument("ports", type=parse_port_list, metavar="PORTS", help="all, 1,3 or 2-4")
        shown_ports(p)
        _selection(p)
        p.set_defaults(run=cmd_hub_switch, switch_on=(name == "on"))

    p = actions.add_parser("cycle", help="power-cycle ports",
                           description="Switch ports off, wait, switch them on again.")
    p.add_argument("ports", type=parse_port_list, metavar="PORTS", help="all, 1,3 or 2-4")
    p.add_argument("--delay", type=_positive_float("the delay", allow_zero=True), default=2.0,
                   help="seconds the ports stay off (default 2)")
    shown_ports(p)
    _selection(p)
    p.set_defaults(run=cmd_hub_cycle)


def _add_meter(commands):
    meter = commands.add_parser(
        "meter", help="readings, calibration and log of the DMM",
        description="Read the DMM's voltage and current, calibrate it, show its "
                    "offsets or registers, or log readings to CSV. Readings are "
                    "printed as the meter reports them (unscaled).")
    _selection(meter)
    actions = _actions(meter, "action")

    p = actions.add_parser("read", help="read voltage and current", description="Read voltage and current.")
    p.add_argument("--json", action="store_true", help="print a JSON object")
    _selection(p)
    p.set_defaults(run=cmd_meter_read)

    for name, text, run in (
            ("calibrate", "run the meter's calibration", cmd_meter_calibrate),
            ("offsets", "show the calibration offsets", cmd_meter_offsets),
            ("regs", "dump the registers 0x00-0x11 of the meter's I2C target", cmd_meter_regs),
            ("dieid", "show the die id of the meter's I2C target", cmd_meter_dieid)):
        p = actions.add_parser(name, help=text, description=text[0].upper() + text[1:] + ".")
        _selection(p)
        p.set_defaults(run=run)

    p = actions.add_parser(
        "log", help="log readings with timestamps to CSV",
        description="Log voltage and current to CSV (columns timestamp, elapsed_s, "
                    "voltage, current; ISO-8601 local time). Without --count or "
                    "--duration it runs until Ctrl-C. A reading that fails leaves "
                    "its cell empty and makes the exit status 1.")
    p.add_argument("output", nargs="?", default="-", metavar="FILE.csv",
                   help="CSV file to write (default: standard output)")
    p.add_argument("-i", "--interval", type=_positive_float("the interval"), default=1.0,
                   help="seconds between samples (default 1)")
    stop = p.add_mutually_exclusive_group()
    stop.add_argument("-n", "--count", type=_int_in(1, 2**31 - 1, "the count"),
                      help="number of samples")
    stop.add_argument("-t", "--duration", type=_positive_float("the duration"),
                      help="seconds to log (samples start at 0, interval, 2*interval, ... below it)")
    p.add_argument("--plot", metavar="FILE.png",
                   help="also draw the readings into a PNG file (needs matplotlib)")
    _selection(p)
    p.set_defaults(run=cmd_meter_log)


# --------------------------------------------------------------------------
# Devices


def _describe(model, serial):
    return model.product if serial is None else f"{model.product} with serial number '{serial}'"


def find_path(kv, model, serial):
    """The path the library would open, or a CliError that says what is attached."""
    manager = kv.KorDeviceManager()
    serials = [s for s in dict.fromkeys(manager.getSerialList(model.product))]
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


def _identity(device):
    return {
        "vendor": device.getVendorName(),
        "product": device.getProductName(),
        "revision": device.getProductRevision(),
        "serial": device.getProductSerial(),
        "firmware": device.getFirmVersion(),
    }


class OpenDevice:
    """A model opened for one command; the name is used in messages."""

    def __init__(self, kv, model, device, path):
        self.kv = kv
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
        if not any(_identity(device).values()):
            raise CliError(f"{_describe(model, serial)} at {path} does not answer")
        yield OpenDevice(kv, model, device, path)
    finally:
        device.close()


def _serial(args):
    return getattr(args, "serial", None)


def _device_model(args, default_key):
    return getattr(args, "device", None) or MODELS[default_key]


def _print_json(value):
    print(json.dumps(value, indent=2))


# --------------------------------------------------------------------------
# list, info


def list_devices(kv):
    """One entry per (product, serial) the library can address, in enumeration order.

    hidapi lists one record per HID interface; records of one device share
    product and serial, and the library opens the first of them."""
    manager = kv.KorDeviceManager()
    serial_lists = {}
    taken = collections.Counter()
    entries = []
    for product in manager.getDeviceList():
        serials = serial_lists.setdefault(product, manager.getSerialList(product))
        serial = serials[taken[product]] if taken[product] < len(serials) else ""
        taken[product] += 1
        entry = {"product": product, "serial": serial,
                 "path": manager.getPathByNameAndSerial(product, serial)}
        if entry not in entries:
            entries.append(entry)
    return entries


def cmd_list(kv, args):
    entries = list_devices(kv)
    if args.json:
        _print_json(entries)
        return
    if not entries:
        print("korvane: no supported device attached", file=sys.stderr)
        return
    rows = [("PRODUCT", "SERIAL", "PATH")] + [
        (e["product"], e["serial"] or "-", e["path"] or "-") for e in entries]
    widths = [max(len(row[i]) for row in rows) for i in range(2)]
    for row in rows:
        print(f"{row[0]:<{widths[0]}}  {row[1]:<{widths[1]}}  {row[2]}")


def cmd_info(kv, args):
    with opened(kv, args.model, _serial(args)) as dev:
        info = _identity(dev.device)
        info["path"] = dev.path
    if args.json:
        _print_json(info)
    else:
        for key, value in info.items():
            print(f"{key + ':':<10}{value}")


# --------------------------------------------------------------------------
# gpio


def _gpio_session(kv, args):
    return opened(kv, _device_model(args, "vanta"), _serial(args))


def _read_gpio_mask(dev):
    mask = dev.device.gpiohw.read()
    # All pins high reads the same as a failure; ask the device to tell them apart.
    if mask == READ_FAILED_U32 and not dev.answers():
        raise CliError(f"{dev.name}: reading the pin levels failed: the device does not answer")
    return mask


def cmd_gpio_mode(kv, args):
    modes = {"output": kv.OUTPUT_PIN, "input": kv.INPUT_PIN, "pullup": kv.INPUT_PULLUP_PIN}
    with _gpio_session(kv, args) as dev:
        if dev.device.gpiohw.pinMode(args.pin, modes[args.mode]):
            raise dev.fail(f"setting pin {args.pin} to {args.mode}")


def cmd_gpio_write(kv, args):
    with _gpio_session(kv, args) as dev:
        if dev.device.gpiohw.digitalWrite(args.pin, LEVELS[args.level]):
            raise dev.fail(f"driving pin {args.pin} {'high' if LEVELS[args.level] else 'low'}")


def cmd_gpio_read(kv, args):
    # Taken from the level mask: digitalRead reports a failure as "high".
    with _gpio_session(kv, args) as dev:
        mask = _read_gpio_mask(dev)
    print(1 if mask >> args.pin & 1 else 0)


def cmd_gpio_mask(kv, args):
    with _gpio_session(kv, args) as dev:
        if args.value is None:
            print(f"0x{_read_gpio_mask(dev):08x}")
        elif dev.device.gpiohw.write(args.value):
            raise dev.fail(f"writing the level mask 0x{args.value:08x}")


# --------------------------------------------------------------------------
# adc


def _repeat(interval, count):
    """Yields sample numbers, sleeping so sample k starts at k * interval."""
    if count is None:
        count = 1 if interval is None else None
    start = time.monotonic()
    k = 0
    while count is None or k < count:
        if k and interval:
            delay = start + k * interval - time.monotonic()
            if delay > 0:
                time.sleep(delay)
        yield k
        k += 1


def cmd_adc(kv, args):
    channels = range(ADC_CHANNELS) if args.channel == "all" else [args.channel]
    with opened(kv, MODELS["vanta"], _serial(args)) as dev:
        adc = dev.device.adchw
        if len(channels) > 1:
            print("\t".join(f"ch{c}" for c in channels))
        for _ in _repeat(args.interval, args.count):
            values = []
            for channel in channels:
                value = adc.analogRead(channel)
                if value == READ_FAILED_U32:
                    raise dev.fail(f"reading ADC channel {channel}")
                values.append(str(value))
            print("\t".join(values), flush=True)


# --------------------------------------------------------------------------
# i2c


def _i2c_session(kv, args):
    return opened(kv, _device_model(args, "vanta"), _serial(args))


def _set_target(dev, address):
    if address is not None and dev.device.i2chw.setI2cDeviceAddr(address):
        raise dev.fail(f"setting the I2C target address 0x{address:02x}")


def read_register(dev, register, probe_every_zero):
    """read2byte, with 0 checked against a device that stopped answering.

    The library returns 0 both for a register holding 0 and for a failed
    read. A zero is checked when asked for (single reads) or when it came
    back slowly (within a dump, to keep a dump of zeros cheap)."""
    started = time.monotonic()
    value = dev.device.i2chw.read2byte(register)
    slow = time.monotonic() - started >= SLOW_ANSWER_S
    if value == 0 and (probe_every_zero or slow) and not dev.answers():
        raise CliError(f"{dev.name}: reading I2C register 0x{register:02x} failed: "
                       "the device does not answer")
    return value


def cmd_i2c_addr(kv, args):
    with _i2c_session(kv, args) as dev:
        _set_target(dev, args.address)


def cmd_i2c_read(kv, args):
    with _i2c_session(kv, args) as dev:
        _set_target(dev, getattr(args, "addr", None))
        value = read_register(dev, args.register, probe_every_zero=True)
    print(f"0x{value:04x}")


def cmd_i2c_write(kv, args):
    with _i2c_session(kv, args) as dev:
        _set_target(dev, getattr(args, "addr", None))
        if dev.device.i2chw.write2byte(args.register, args.value):
            raise dev.fail(f"writing 0x{args.value:04x} to I2C register 0x{args.register:02x}")


def dump_lines(first, last, read):
    """i2cdump's word layout: 8 registers a row, cells outside the range blank."""
    yield "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f"
    for row in range(first & ~7, last + 1, 8):
        cells = []
        for register in range(row, row + 8):
            cells.append(f"{read(register):04x}" if first <= register <= last else "    ")
        yield (f"{row:02x}: " + " ".join(cells)).rstrip()


def cmd_i2c_dump(kv, args):
    first, last = args.range
    with _i2c_session(kv, args) as dev:
        _set_target(dev, getattr(args, "addr", None))
        for line in dump_lines(first, last, lambda r: read_register(dev, r, probe_every_zero=False)):
            print(line, flush=True)


# --------------------------------------------------------------------------
# hub


def read_port_mask(kv, path):
    """The hub's port mask, read on a link of its own.

    Brondel.getUsbPortStatus only refreshes its private cache, so the mask
    is read with a KorService on a separate KorDevice while no Brondel
    holds the hub open."""
    link = kv.KorDevice()
    if link.open(path):
        raise CliError(f"the hub at {path} cannot be opened to read its port status")
    try:
        mask_attribute = kv.Attribute(kv.ATT_USB_PORT_CTRL, 0, 0)
        service = kv.KorService(link)
        try:
            failed = service.readAttribute(mask_attribute)
        finally:
            # The service reads through the link: it has to be gone before the link closes.
            del service
        if failed:
            raise CliError(f"reading the port status of the hub at {path} failed")
        return mask_attribute.getValueUint32()
    finally:
        link.close()


def print_hub_status(name, serial, path, mask, shown, as_json):
    highest = mask.bit_length()
    ports = range(1, max(shown, highest) + 1)
    if as_json:
        _print_json({
            "product": MODELS["hub"].product, "serial": serial, "path": path, "mask": mask,
            "on": [p for p in range(1, HUB_PORTS + 1) if mask >> (p - 1) & 1],
            "ports": {str(p): bool(mask >> (p - 1) & 1) for p in ports},
        })
        return
    print(f"{name}: port mask 0x{mask:08x}")
    for p in ports:
        print(f"port {p:>2}: {'on' if mask >> (p - 1) & 1 else 'off'}")


def _show_hub_status(kv, args, dev_name, serial, path):
    print_hub_status(dev_name, serial, path, read_port_mask(kv, path), args.shown_ports, args.json)


def _hub_identity(kv, args):
    """Name, serial and path of the chosen hub, with the hub closed again."""
    with opened(kv, MODELS["hub"], _serial(args)) as dev:
        return dev.name, dev.device.getProductSerial(), dev.path


def cmd_hub_status(kv, args):
    _show_hub_status(kv, args, *_hub_identity(kv, args))


def _switch(dev, ports, on):
    hub = dev.device
    if ports == "all":
        failed = hub.enableAllUsbPort() if on else hub.disableAllUsbPort()
        if failed:
            raise dev.fail(f"switching all ports {'on' if on else 'off'}")
        return
    for port in ports:
        if (hub.enableUsbPort if on else hub.disableUsbPort)(port):
            raise dev.fail(f"switching port {port} {'on' if on else 'off'}")


def cmd_hub_switch(kv, args):
    with opened(kv, MODELS["hub"], _serial(args)) as dev:
        _switch(dev, args.ports, args.switch_on)
        identity = dev.name, dev.device.getProductSerial(), dev.path
    _show_hub_status(kv, args, *identity)


def cmd_hub_cycle(kv, args):
    with opened(kv, MODELS["hub"], _serial(args)) as dev:
        _switch(dev, args.ports, False)
        try:
            time.sleep(args.delay)
        finally:
            # Interrupted or not, the ports do not stay off.
            _switch(dev, args.ports, True)
        identity = dev.name, dev.device.getProductSerial(), dev.path
    _show_hub_status(kv, args, *identity)


# --------------------------------------------------------------------------
# meter


def _meter(kv, args):
    return opened(kv, MODELS["dmm"], _serial(args))


def _reading(value):
    return None if value == METER_FAILED else value


def format_reading(value):
    """Single precision carries about 7 significant digits; no more are shown."""
    return "" if value is None else f"{value:.7g}"


def cmd_meter_read(kv, args):
    with _meter(kv, args) as dev:
        voltage = _reading(dev.device.getVoltage())
        if voltage is None:
            raise dev.fail("reading the voltage")
        current = _reading(dev.device.getCurrent())
        if current is None:
            raise dev.fail("reading the current")
    if args.json:
        _print_json({"voltage": voltage, "current": current})
    else:
        print(f"voltage: {format_reading(voltage)}")
        print(f"current: {format_reading(current)}")


def cmd_meter_calibrate(kv, args):
    with _meter(kv, args) as dev:
        if dev.device.calibration():
            raise dev.fail("calibration")


def cmd_meter_offsets(kv, args):
    with _meter(kv, args) as dev:
        text = dev.device.getCalibrationData()
        if not text:
            raise dev.fail("reading the calibration offsets")
    print(text, end="")


def cmd_meter_regs(kv, args):
    with _meter(kv, args) as dev:
        # A register that cannot be read shows 0, so a silent meter would
        # give a dump of zeros after 18 waits: check it answers first.
        if not dev.answers():
            raise CliError(f"{dev.name}: the device does not answer")
        text = dev.device.showReg()
    print(text, end="")


def cmd_meter_dieid(kv, args):
    with _meter(kv, args) as dev:
        die_id = dev.device.getDieID()
        if die_id == 0:
            raise dev.fail("reading the die id")
    print(f"0x{die_id:04x}")


Sample = collections.namedtuple("Sample", "timestamp elapsed voltage current")


def load_pyplot():
    """matplotlib's pyplot on the file-only Agg backend, or a CliError."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as pyplot
    except ImportError as error:
        raise CliError(f"--plot needs matplotlib ({error}); on Debian: apt install python3-matplotlib")
    return pyplot


def write_plot(pyplot, path, samples, title):
    def series(name):
        # Failed readings become gaps in the line.
        return [math.nan if getattr(s, name) is None else getattr(s, name) for s in samples]

    elapsed = [s.elapsed for s in samples]
    figure, (top, bottom) = pyplot.subplots(2, 1, sharex=True, figsize=(8, 5))
    try:
        top.plot(elapsed, series("voltage"), marker=".")
        top.set_ylabel("voltage")
        bottom.plot(elapsed, series("current"), marker=".", color="tab:orange")
        bottom.set_ylabel("current")
        bottom.set_xlabel("elapsed (s)")
        for axes in (top, bottom):
            axes.grid(True, alpha=0.3)
        figure.suptitle(title)
        figure.tight_layout()
        figure.savefig(path, dpi=100)
    finally:
        pyplot.close(figure)


class Progress:
    """One self-overwriting status line on a terminal; silent elsewhere."""

    def __init__(self, stream, enabled, count):
        self.stream = stream
        self.enabled = enabled
        self.count = count
        self.width = 0

    def update(self, sample, number):
        if not self.enabled:
            return
        total = f"/{self.count}" if self.count else ""
        text = (f"sample {number}{total}  {sample.elapsed:.1f} s  "
                f"voltage {format_reading(sample.voltage) or '-'}  "
                f"current {format_reading(sample.current) or '-'}")
        self.stream.write("\r" + text.ljust(self.width))
        self.stream.flush()
        self.width = len(text)

    def finish(self):
        if self.enabled and self.width:
            self.stream.write("\n")
            self.stream.flush()


def _sample_offsets(interval, count, duration):
    k = 0
    while (count is None or k < count) and (duration is None or k * interval < duration):
        yield k * interval
        k += 1


def log_samples(meter, writer, progress, interval, count, duration, on_sample=None):
    """Samples the meter into writer; returns the samples. Stops early on
    Ctrl-C (the samples so far are kept) or when the meter goes silent."""
    samples = []
    silent = 0
    start = time.monotonic()
    try:
        for offset in _sample_offsets(interval, count, duration):
            delay = start + offset - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            timestamp = datetime.datetime.now().astimezone().isoformat(timespec="milliseconds")
            elapsed = time.monotonic() - start
            sample = Sample(timestamp, elapsed,
                            _reading(meter.getVoltage()), _reading(meter.getCurrent()))
            samples.append(sample)
            writer.writerow([sample.timestamp, f"{sample.elapsed:.3f}",
                             format_reading(sample.voltage), format_reading(sample.current)])
            progress.update(sample, len(samples))
            if on_sample:
                on_sample()
            silent = silent + 1 if sample.voltage is None and sample.current is None else 0
            if silent >= LOG_MAX_SILENT_SAMPLES:
                break
    except KeyboardInterrupt:
        pass
    finally:
        progress.finish()
    return samples, silent >= LOG_MAX_SILENT_SAMPLES


@contextlib.contextmanager
def _output(path):
    if path == "-":
        yield sys.stdout
        return
    try:
        stream = open(path, "w", newline="", encoding="utf-8")
    except OSError as error:
        raise CliError(f"cannot write {path}: {error.strerror}")
    with stream:
        yield stream


def cmd_meter_log(kv, args):
    # Checked before logging, not after an hour of it.
    pyplot = load_pyplot() if args.plot else None
    with _meter(kv, args) as dev, _output(args.output) as stream:
        writer = csv.writer(stream, lineterminator="\n")
        writer.writerow(["timestamp", "elapsed_s", "voltage", "current"])
        to_terminal = stream is sys.stdout and sys.stdout.isatty()
        expected = args.count or (math.ceil(args.duration / args.interval) if args.duration else None)
        progress = Progress(sys.stderr, sys.stderr.isatty() and not to_terminal, expected)
        samples, went_silent = log_samples(dev.device, writer, progress, args.interval,
                                           args.count, args.duration, on_sample=stream.flush)
        name = dev.name
    if went_silent:
        raise CliError(f"{name} stopped answering; logged {len(samples)} samples")
    if pyplot is not None and samples:
        write_plot(pyplot, args.plot, samples, f"{name} from {samples[0].timestamp}")
    failed = sum((s.voltage is None) + (s.current is None) for s in samples)
    if failed:
        raise CliError(f"{name}: {failed} of {2 * len(samples)} readings failed (left empty)")


# --------------------------------------------------------------------------
# Entry point


def _load_module():
    try:
        import korvane
    except ImportError as error:
        raise CliError(f"the korvane module cannot be loaded: {error}")
    return korvane


def main(argv=None):
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except _UsageError as error:
        print(error, file=sys.stderr)
        return EXIT_USAGE
    except SystemExit as done:  # --help
        return done.code if isinstance(done.code, int) else EXIT_OK
    try:
        args.run(_load_module(), args)
    except CliError as error:
        sys.stdout.flush()
        print(f"korvane: {error}", file=sys.stderr)
        return EXIT_FAILED
    except KeyboardInterrupt:
        print("korvane: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader of our output went away (e.g. `| head`): nothing left to
        # say, and the interpreter's final flush must not complain either.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_OK
    return EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
