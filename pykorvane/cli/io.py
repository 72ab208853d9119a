"""korvane gpio, adc and i2c: the I/O board's blocks (and the hub's GPIO,
the meter's I2C bridge)."""
from __future__ import annotations

import argparse
import json
import time
from typing import Any, Callable, Dict, Iterator, List, Optional

from pykorvane import Adc, DeviceGoneError, Gpio, I2c, KorvaneError, NoAnswerError, PinMode

from .common import (
    COUNT,
    CliError,
    OpenDevice,
    add_actions,
    add_json,
    as_json_keys,
    finish,
    int_in,
    opened,
    print_json,
    schedule,
    seconds,
    timestamp,
)

LEVELS = {"0": False, "low": False, "1": True, "high": True}
# The models whose block a command uses (-d), and the default one.
GPIO_MODELS: Dict[str, Any] = dict(devices=("vanta", "hub"), model="vanta")
I2C_MODELS: Dict[str, Any] = dict(devices=("vanta", "dmm"), model="vanta")


def add_commands(commands: argparse._SubParsersAction) -> None:
    _add_gpio(commands)
    _add_adc(commands)
    _add_i2c(commands)


# ---------------------------------------------------------------- gpio

def _add_gpio(commands: argparse._SubParsersAction) -> None:
    actions = add_actions(commands.add_parser(
        "gpio", help="pin modes and levels (Vanta or hub)",
        description="Set a pin's mode, drive or read a pin, read or write the "
                    "whole level mask (bit n = pin n)."), **GPIO_MODELS)
    pin = int_in(0, Gpio.PINS - 1, "a pin")

    p = actions.add_parser("mode", help="set a pin's mode", description="Set a pin's mode.")
    p.add_argument("pin", type=pin, help="pin number, 0 to 31")
    p.add_argument("mode", type=str.lower, choices=[mode.value for mode in PinMode],
                   help="output, input, pullup or pulldown (an input with that pull; any case)")
    finish(p, cmd_gpio_mode, **GPIO_MODELS)

    p = actions.add_parser("write", help="drive a pin high or low", description="Drive a pin.")
    p.add_argument("pin", type=pin, help="pin number, 0 to 31")
    p.add_argument("level", type=str.lower, choices=sorted(LEVELS), help="1/high or 0/low")
    finish(p, cmd_gpio_write, **GPIO_MODELS)

    p = actions.add_parser("read", help="read a pin's level (prints 1 or 0)",
                           description="Read a pin's level; prints 1 (high) or 0 (low).")
    p.add_argument("pin", type=pin, help="pin number, 0 to 31")
    add_json(p)
    finish(p, cmd_gpio_read, **GPIO_MODELS)

    p = actions.add_parser("info", help="show pins' modes and levels",
                           description="Show each pin's mode (output, input, pullup, "
                                       "pulldown) and level, or one pin's.")
    p.add_argument("pin", nargs="?", type=pin, help="pin number, 0 to 31 (default: all)")
    add_json(p)
    finish(p, cmd_gpio_info, **GPIO_MODELS)

    p = actions.add_parser("mask", help="read or write the whole level mask",
                           description="Without VALUE print the level mask; with VALUE write it.")
    p.add_argument("value", nargs="?", type=int_in(0, 0xFFFFFFFF, "the mask", hex_range=True),
                   help="new mask, e.g. 0x0000000f")
    add_json(p)
    finish(p, cmd_gpio_mask, **GPIO_MODELS)


def cmd_gpio_mode(args: argparse.Namespace) -> None:
    with opened(args) as dev, dev.doing(f"setting pin {args.pin} to {args.mode}"):
        dev.device.gpio.mode(args.pin, args.mode)


def cmd_gpio_write(args: argparse.Namespace) -> None:
    high = LEVELS[args.level]
    what = f"driving pin {args.pin} {'high' if high else 'low'}"
    with opened(args) as dev, dev.doing(what):
        try:
            dev.device.gpio.write(args.pin, high)
        except ValueError:  # the pin is an input (the number was checked)
            raise CliError(f"{dev.name}: {what}: pin {args.pin} is an input; set it to "
                           f"output first (korvane gpio mode {args.pin} output)") from None


def cmd_gpio_info(args: argparse.Namespace) -> None:
    pins = range(Gpio.PINS) if args.pin is None else [args.pin]
    with opened(args) as dev, dev.doing("reading the pins' modes and levels"):
        modes = [PinMode(dev.device.gpio.mode(pin)).value for pin in pins]
        levels = dev.device.gpio.levels
    rows = [{"pin": pin, "mode": mode, "level": levels >> pin & 1} for pin, mode in zip(pins, modes)]
    if args.json:
        print_json(rows if args.pin is None else rows[0])
        return
    for row in rows:
        print(f"{row['pin']:2d}  {row['mode']:<8}  {'high' if row['level'] else 'low'}")


def cmd_gpio_read(args: argparse.Namespace) -> None:
    with opened(args) as dev, dev.doing(f"reading pin {args.pin}"):
        level = int(dev.device.gpio.read(args.pin))
    if args.json:
        print_json({"pin": args.pin, "level": level})
    else:
        print(level)


def cmd_gpio_mask(args: argparse.Namespace) -> None:
    if args.value is not None:
        if args.json:
            args.parser.error("--json is for reading the mask, not for writing it")
        with opened(args) as dev, dev.doing(f"writing the level mask 0x{args.value:08x}"):
            dev.device.gpio.write_levels(args.value)
        return
    with opened(args) as dev, dev.doing("reading the level mask"):
        mask = dev.device.gpio.levels
    if args.json:
        print_json({"mask": mask})
    else:
        print(f"0x{mask:08x}")


# ---------------------------------------------------------------- adc

def _add_adc(commands: argparse._SubParsersAction) -> None:
    p = commands.add_parser(
        "adc", help="read the Vanta's analogue inputs",
        description="Read one ADC channel or all eight, once or repeatedly. "
                    "Values are the board's raw counts (unscaled).")
    p.add_argument("channel", nargs="?", default="all", metavar="CHANNEL",
                   type=_adc_channel, help="0 to 7, or all (default)")
    p.add_argument("-i", "--interval", type=seconds("the interval"),
                   help="time between readings: seconds, or 500ms, 2s, 1m (default: read once); "
                        "the rows then carry a timestamp and the elapsed seconds")
    p.add_argument("-n", "--count", type=COUNT,
                   help="number of readings (default: 1, or until Ctrl-C with --interval)")
    add_json(p)
    finish(p, cmd_adc, model="vanta")


def _adc_channel(text: str):
    if text.strip().lower() == "all":
        return "all"
    return int_in(0, Adc.CHANNELS - 1, "a channel")(text)


def cmd_adc(args: argparse.Namespace) -> None:
    """Readings on a schedule (--interval) carry the time they were taken
    (stamped after the reads) and the seconds since the start."""
    channels = list(range(Adc.CHANNELS)) if args.channel == "all" else [args.channel]
    count = args.count if args.count is not None or args.interval is not None else 1
    timed = args.interval is not None
    with opened(args) as dev:
        adc = dev.device.adc
        header = (["timestamp", "elapsed_s"] if timed else []) + [f"ch{c}" for c in channels]
        if (len(channels) > 1 or timed) and not args.json:
            print("\t".join(header), flush=True)
        start = time.monotonic()
        for _ in schedule(args.interval, count, None, start=start):
            values: List[Any] = []
            for channel in channels:
                with dev.doing(f"reading ADC channel {channel}"):
                    values.append(adc.read(channel))
            if timed:
                values[:0] = [timestamp(), round(time.monotonic() - start, 3)]
            if args.json:
                print(json.dumps(dict(zip(header, values))), flush=True)
            else:
                print("\t".join(f"{v:.3f}" if isinstance(v, float) else str(v) for v in values),
                      flush=True)


# ---------------------------------------------------------------- i2c

def parse_register_range(text: str):
    """i2cdump's '-r first-last' (or a single register): (first, last)."""
    return _range(text, int_in(0, 0xFF, "a register", hex_range=True), "register")


def parse_address_range(text: str):
    return _range(text, int_in(0, 0x7F, "an I2C address", hex_range=True), "address")


def _range(text: str, number: Callable[[str], int], what: str):
    first, sep, last = text.partition("-")
    try:
        low = number(first.strip())
        high = number(last.strip()) if sep else low
    except argparse.ArgumentTypeError as error:
        raise argparse.ArgumentTypeError(f"bad range '{text}': {error}")
    if low > high:
        raise argparse.ArgumentTypeError(f"bad range '{text}': the first {what} is above the last")
    return low, high


def _add_i2c(commands: argparse._SubParsersAction) -> None:
    actions = add_actions(commands.add_parser(
        "i2c", help="an I2C target's registers (Vanta or DMM bridge)",
        description="Find the targets on the bus, set the target address, and "
                    "read, write or dump its registers."), **I2C_MODELS)
    address = int_in(0, 0x7F, "an I2C address", hex_range=True)
    register = int_in(0, 0xFF, "a register", hex_range=True)

    def target_option(p: argparse.ArgumentParser) -> None:
        p.add_argument("-a", "--addr", type=address, default=None,
                       help="set the target address first (otherwise the bridge keeps its own)")

    def width_option(p: argparse.ArgumentParser) -> None:
        p.add_argument("-w", "--width", type=int_in(1, 4, "the width"), default=2,
                       help="data width in bytes, 1 to 4 (default 2)")

    p = actions.add_parser("detect", help="find the targets on the bus (i2cdetect's grid)",
                           description="Probe addresses 0x08-0x77 (or --range) and print "
                                       "i2cdetect's grid: the address where a target "
                                       "answered, -- where none did.")
    p.add_argument("-r", "--range", dest="range", type=parse_address_range,
                   default=(I2c.SCAN_FIRST, I2c.SCAN_LAST), metavar="FIRST-LAST",
                   help="addresses to probe (default 0x08-0x77)")
    add_json(p)
    finish(p, cmd_i2c_detect, **I2C_MODELS)

    p = actions.add_parser("addr", help="set the target address",
                           description="Set the bridge's target address (7-bit).")
    p.add_argument("address", type=address, help="e.g. 0x40")
    finish(p, cmd_i2c_addr, **I2C_MODELS)

    p = actions.add_parser("read", help="read one register",
                           description="Read one register, 1 to 4 bytes wide.")
    p.add_argument("register", type=register, help="0x00 to 0xff")
    target_option(p)
    width_option(p)
    add_json(p)
    finish(p, cmd_i2c_read, **I2C_MODELS)

    p = actions.add_parser("write", help="write one register",
                           description="Write one register, 1 to 4 bytes wide.")
    p.add_argument("register", type=register, help="0x00 to 0xff")
    p.add_argument("value", type=int_in(0, 0xFFFFFFFF, "the value", hex_range=True),
                   help="a value that fits the width, e.g. 0xabcd")
    target_option(p)
    width_option(p)
    finish(p, cmd_i2c_write, **I2C_MODELS)

    # i2c-tools' order: the address first, the size as a letter after the data.
    p = actions.add_parser("get", help="read one register, i2cget's way (ADDRESS REG [b|w|i])",
                           description="Read register REG of the target at ADDRESS: b a byte "
                                       "(default), w a word, i 4 bytes. The bridge keeps the "
                                       "address.")
    p.add_argument("addr", type=address, metavar="ADDRESS", help="the target, e.g. 0x40")
    p.add_argument("register", type=register, metavar="REG", help="0x00 to 0xff")
    p.add_argument("width", nargs="?", type=_size(GET_SIZES), default=1, metavar="{b,w,i}",
                   help="b: byte (default), w: word (2 bytes), i: 4 bytes")
    add_json(p)
    finish(p, cmd_i2c_read, **I2C_MODELS)

    p = actions.add_parser("set", help="write one register, i2cset's way (ADDRESS REG VALUE [b|w])",
                           description="Write VALUE to register REG of the target at ADDRESS: "
                                       "b a byte (default), w a word. The bridge keeps the "
                                       "address.")
    p.add_argument("addr", type=address, metavar="ADDRESS", help="the target, e.g. 0x40")
    p.add_argument("register", type=register, metavar="REG", help="0x00 to 0xff")
    p.add_argument("value", type=int_in(0, 0xFFFF, "the value", hex_range=True),
                   help="a value that fits the size, e.g. 0xab")
    p.add_argument("width", nargs="?", type=_size(SET_SIZES), default=1, metavar="{b,w}",
                   help="b: byte (default), w: word (2 bytes)")
    finish(p, cmd_i2c_write, **I2C_MODELS)

    p = actions.add_parser("dump", help="dump registers as a grid (words, or bytes with -w 1)",
                           description="Dump 16-bit registers in i2cdump's word layout, or with "
                                       "-w 1 (--bytes) each register's low byte in its byte "
                                       "layout with an ASCII column; XXXX (XX) marks a register "
                                       "that could not be read.")
    p.add_argument("-r", "--range", dest="range", type=parse_register_range, default=(0, 0xFF),
                   metavar="FIRST-LAST", help="registers to dump (default 0x00-0xff)")
    p.add_argument("-w", "--width", type=int_in(1, 2, "the dump's width"), default=2,
                   help="2: words (default), 1: bytes")
    p.add_argument("-b", "--bytes", dest="width", action="store_const", const=1,
                   help="bytes, the same as -w 1")
    target_option(p)
    add_json(p)
    finish(p, cmd_i2c_dump, **I2C_MODELS)


# The sizes i2cget and i2cset take, as widths in bytes.
GET_SIZES = {"b": 1, "w": 2, "i": 4}
SET_SIZES = {"b": 1, "w": 2}


def _size(sizes: Dict[str, int]) -> Callable[[str], int]:
    def parse(text: str) -> int:
        width = sizes.get(text.strip().lower())
        if width is None:
            raise argparse.ArgumentTypeError(
                f"invalid size '{text}' (choose {', '.join(sizes)})")
        return width
    return parse


def _target_hint(address: Optional[int]) -> str:
    return f"no target at 0x{address:02x}?" if address is not None else "no target at the bridge's address?"


def _set_target(dev: OpenDevice, address: Optional[int]) -> None:
    if address is not None:
        with dev.doing(f"setting the I2C target address 0x{address:02x}"):
            dev.device.i2c.target = address


def cmd_i2c_addr(args: argparse.Namespace) -> None:
    with opened(args) as dev:
        _set_target(dev, args.address)


def detect_lines(first: int, last: int, found: List[int]) -> Iterator[str]:
    """i2cdetect's grid: rows 00..70 that hold an address of first..last,
    columns 0..f; the address where a target answered, -- where none did,
    blank outside first..last."""
    yield "     " + "  ".join(f"{column:x}" for column in range(16))
    for row in range(first & ~15, last + 1, 16):
        cells = []
        for address in range(row, row + 16):
            if not first <= address <= last:
                cells.append("  ")
            else:
                cells.append(f"{address:02x}" if address in found else "--")
        yield (f"{row:02x}: " + " ".join(cells)).rstrip()


def cmd_i2c_detect(args: argparse.Namespace) -> None:
    first, last = args.range
    with opened(args) as dev, dev.doing(f"probing I2C addresses 0x{first:02x}-0x{last:02x}"):
        found = dev.device.i2c.scan(first, last)
    if args.json:
        print_json({"first": first, "last": last, "found": found})
    else:
        for line in detect_lines(first, last, found):
            print(line)


def cmd_i2c_read(args: argparse.Namespace) -> None:
    with opened(args) as dev:
        _set_target(dev, args.addr)
        with dev.doing(f"reading I2C register 0x{args.register:02x}", _target_hint(args.addr)):
            value = dev.device.i2c.read(args.register, args.width)
    if args.json:
        print_json({"address": args.addr, "register": args.register, "width": args.width,
                    "value": value})
    else:
        print(f"0x{value:0{2 * args.width}x}")


def cmd_i2c_write(args: argparse.Namespace) -> None:
    if args.value >> (8 * args.width):
        args.parser.error(f"the value 0x{args.value:x} does not fit in {args.width} byte(s)")
    with opened(args) as dev:
        _set_target(dev, args.addr)
        with dev.doing(f"writing 0x{args.value:0{2 * args.width}x} to I2C register "
                       f"0x{args.register:02x}", _target_hint(args.addr)):
            dev.device.i2c.write(args.register, args.value, args.width)


def dump_lines(first: int, last: int, values: Dict[int, Optional[int]], width: int = 2) -> Iterator[str]:
    """i2cdump's layouts: words, 8 registers a row, XXXX for a register that
    could not be read; or bytes, 16 a row, XX, with the ASCII column (a
    byte 0x00 or 0xff as '.', other unprintable ones as '?', X for a failed
    read). Cells outside first..last are blank; rows end where the reads
    ended (a dump cut short by a silent device)."""
    columns = 8 if width == 2 else 16
    if width == 2:
        yield "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f"
    else:
        yield "     " + "  ".join(f"{column:x}" for column in range(16)) + "    0123456789abcdef"
    blank = " " * 2 * width
    for row in range(first & -columns, last + 1, columns):
        cells, text = [], []
        for register in range(row, row + columns):
            value = values.get(register, -1) if first <= register <= last else -1
            if value is None:
                cells.append("X" * 2 * width)
                text.append("X")
            elif value < 0:  # outside the range, or not read
                cells.append(blank)
                text.append(" ")
            else:
                cells.append(f"{value:0{2 * width}x}")
                text.append(_ascii(value))
        if all(cell == blank for cell in cells):
            break
        line = f"{row:02x}: " + " ".join(cells) + ("    " + "".join(text) if width == 1 else "")
        yield line.rstrip()


def _ascii(byte: int) -> str:
    if byte in (0x00, 0xFF):
        return "."
    return chr(byte) if 32 <= byte < 127 else "?"


def read_registers(dev: OpenDevice, first: int, last: int, values: Dict[int, Optional[int]],
                   width: int = 2) -> List[KorvaneError]:
    """Reads first..last, width bytes each, into values (None for a refused
    register). A device that stops answering or is gone ends the dump with
    a CliError."""
    refusals: List[KorvaneError] = []
    for register in range(first, last + 1):
        try:
            values[register] = dev.device.i2c.read(register, width)
        except (NoAnswerError, DeviceGoneError) as error:
            raise dev.fail(f"reading I2C register 0x{register:02x}", error)
        except KorvaneError as error:
            values[register] = None
            refusals.append(error)
    return refusals


def cmd_i2c_dump(args: argparse.Namespace) -> None:
    first, last = args.range
    values: Dict[int, Optional[int]] = {}
    with opened(args) as dev:
        _set_target(dev, args.addr)
        try:
            refusals = read_registers(dev, first, last, values, args.width)
        finally:
            show_dump(args, first, last, values)
    if refusals:
        marks = "X" * 2 * args.width
        raise CliError(f"{dev.name}: {len(refusals)} of {last - first + 1} registers could not "
                       f"be read ({marks}): {refusals[0].reason}; {_target_hint(args.addr)}")


def show_dump(args: argparse.Namespace, first: int, last: int, values: Dict[int, Optional[int]]) -> None:
    if args.json:
        print_json({"address": args.addr, "width": args.width, "registers": as_json_keys(values)})
    else:
        for line in dump_lines(first, last, values, args.width):
            print(line)
