"""korvane gpio, adc and i2c: the I/O board's blocks (and the hub's GPIO,
the meter's I2C bridge)."""

import argparse
import sys
import time

from korvane_cli_common import (
    CliError,
    READ_FAILED_U32,
    SLOW_ANSWER_S,
    add_command,
    finish_action,
    int_in,
    open_chosen,
    positive_float,
)

PIN_COUNT = 32
ADC_CHANNELS = 8
PIN_MODES = ("output", "input", "pullup")
LEVELS = {"0": False, "low": False, "1": True, "high": True}


def add_commands(commands):
    _add_gpio(commands)
    _add_adc(commands)
    _add_i2c(commands)


def _add_gpio(commands):
    sel = dict(devices=("vanta", "hub"), default="vanta")
    actions = add_command(
        commands, "gpio", help="pin modes and levels (Vanta or hub)",
        description="Set a pin's mode, drive or read a pin, read or write the "
                    "whole level mask (bit n = pin n).", **sel)
    pin = int_in(0, PIN_COUNT - 1, "a pin")

    p = actions.add_parser("mode", help="set a pin's mode", description="Set a pin's mode.")
    p.add_argument("pin", type=pin, help="pin number, 0 to 31")
    p.add_argument("mode", choices=PIN_MODES, help="output, input or pullup (input with pull-up)")
    finish_action(p, cmd_gpio_mode, **sel)

    p = actions.add_parser("write", help="drive a pin high or low", description="Drive a pin.")
    p.add_argument("pin", type=pin, help="pin number, 0 to 31")
    p.add_argument("level", type=str.lower, choices=sorted(LEVELS), help="1/high or 0/low")
    finish_action(p, cmd_gpio_write, **sel)

    p = actions.add_parser("read", help="read a pin's level (prints 1 or 0)",
                           description="Read a pin's level; prints 1 (high) or 0 (low).")
    p.add_argument("pin", type=pin, help="pin number, 0 to 31")
    finish_action(p, cmd_gpio_read, **sel)

    p = actions.add_parser("mask", help="read or write the whole level mask",
                           description="Without VALUE print the level mask; with VALUE write it.")
    p.add_argument("value", nargs="?", type=int_in(0, 0xFFFFFFFF, "the mask", hex_range=True),
                   help="new mask, e.g. 0x0000000f")
    finish_action(p, cmd_gpio_mask, **sel)


def _add_adc(commands):
    p = commands.add_parser(
        "adc", help="read the Vanta's analogue inputs",
        description="Read one ADC channel or all eight, once or repeatedly. "
                    "Values are printed as the board reports them (unscaled).")
    p.add_argument("channel", nargs="?", default="all", metavar="CHANNEL",
                   type=_adc_channel, help="0 to 7, or all (default)")
    p.add_argument("-i", "--interval", type=positive_float("the interval"),
                   help="seconds between readings (default: read once)")
    p.add_argument("-n", "--count", type=int_in(1, 2**31 - 1, "the count"),
                   help="number of readings (default: 1, or until Ctrl-C with --interval)")
    finish_action(p, cmd_adc)


def _adc_channel(text):
    if text.strip().lower() == "all":
        return "all"
    return int_in(0, ADC_CHANNELS - 1, "a channel")(text)


def parse_register_range(text):
    """i2cdump's '-r first-last' (or a single register): (first, last)."""
    first, sep, last = text.partition("-")
    register = int_in(0, 0xFF, "a register", hex_range=True)
    try:
        low = register(first.strip())
        high = register(last.strip()) if sep else low
    except argparse.ArgumentTypeError as error:
        raise argparse.ArgumentTypeError(f"bad range '{text}': {error}")
    if low > high:
        raise argparse.ArgumentTypeError(f"bad range '{text}': the first register is above the last")
    return low, high


def _add_i2c(commands):
    sel = dict(devices=("vanta", "dmm"), default="vanta")
    actions = add_command(
        commands, "i2c", help="registers of an I2C target (Vanta or DMM bridge)",
        description="Set the I2C target address and read, write or dump its "
                    "16-bit registers.", **sel)
    address = int_in(0, 0x7F, "an I2C address", hex_range=True)
    register = int_in(0, 0xFF, "a register", hex_range=True)

    def target_option(p):
        p.add_argument("-a", "--addr", type=address, default=argparse.SUPPRESS,
                       help="set the target address first (otherwise the bridge keeps its current one)")

    p = actions.add_parser("addr", help="set the target address",
                           description="Set the bridge's target address (7-bit).")
    p.add_argument("address", type=address, help="e.g. 0x40")
    finish_action(p, cmd_i2c_addr, **sel)

    p = actions.add_parser("read", help="read one register", description="Read one 16-bit register.")
    p.add_argument("register", type=register, help="0x00 to 0xff")
    target_option(p)
    finish_action(p, cmd_i2c_read, **sel)

    p = actions.add_parser("write", help="write one register", description="Write one 16-bit register.")
    p.add_argument("register", type=register, help="0x00 to 0xff")
    p.add_argument("value", type=int_in(0, 0xFFFF, "the value", hex_range=True), help="0x0000 to 0xffff")
    target_option(p)
    finish_action(p, cmd_i2c_write, **sel)

    p = actions.add_parser("dump", help="dump registers as a grid",
                           description="Dump 16-bit registers in i2cdump's word layout.")
    p.add_argument("-r", "--range", dest="range", type=parse_register_range, default=(0, 0xFF),
                   metavar="FIRST-LAST", help="registers to dump (default 0x00-0xff)")
    target_option(p)
    finish_action(p, cmd_i2c_dump, **sel)


def _open_chosen(kv, args):
    """The model chosen with --device (the Vanta by default), opened."""
    return open_chosen(kv, args, "vanta")


def _read_gpio_mask(dev):
    mask = dev.device.gpiohw.read()
    # All pins high reads the same as a failure; ask the device to tell them apart.
    if mask == READ_FAILED_U32 and not dev.answers():
        raise CliError(f"{dev.name}: reading the pin levels failed: the device does not answer")
    return mask


def cmd_gpio_mode(kv, args):
    modes = {"output": kv.OUTPUT_PIN, "input": kv.INPUT_PIN, "pullup": kv.INPUT_PULLUP_PIN}
    with _open_chosen(kv, args) as dev:
        if dev.device.gpiohw.pinMode(args.pin, modes[args.mode]):
            raise dev.fail(f"setting pin {args.pin} to {args.mode}")


def cmd_gpio_write(kv, args):
    with _open_chosen(kv, args) as dev:
        if dev.device.gpiohw.digitalWrite(args.pin, LEVELS[args.level]):
            raise dev.fail(f"driving pin {args.pin} {'high' if LEVELS[args.level] else 'low'}")


def cmd_gpio_read(kv, args):
    # Taken from the level mask: digitalRead reports a failure as "high".
    with _open_chosen(kv, args) as dev:
        mask = _read_gpio_mask(dev)
    print(1 if mask >> args.pin & 1 else 0)


def cmd_gpio_mask(kv, args):
    with _open_chosen(kv, args) as dev:
        if args.value is None:
            print(f"0x{_read_gpio_mask(dev):08x}")
        elif dev.device.gpiohw.write(args.value):
            raise dev.fail(f"writing the level mask 0x{args.value:08x}")


def repeat_samples(interval, count):
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
    with _open_chosen(kv, args) as dev:
        adc = dev.device.adchw
        if len(channels) > 1:
            print("\t".join(f"ch{c}" for c in channels))
        for _ in repeat_samples(args.interval, args.count):
            values = []
            for channel in channels:
                value = adc.analogRead(channel)
                if value == READ_FAILED_U32:
                    raise dev.fail(f"reading ADC channel {channel}")
                values.append(str(value))
            print("\t".join(values), flush=True)


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
    with _open_chosen(kv, args) as dev:
        _set_target(dev, args.address)


def cmd_i2c_read(kv, args):
    with _open_chosen(kv, args) as dev:
        _set_target(dev, getattr(args, "addr", None))
        value = read_register(dev, args.register, probe_every_zero=True)
    print(f"0x{value:04x}")
    if value == 0:
        print("korvane: note: the library also gives 0 for a read that failed "
              "(for example with no target at the address)", file=sys.stderr)


def cmd_i2c_write(kv, args):
    with _open_chosen(kv, args) as dev:
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
    with _open_chosen(kv, args) as dev:
        _set_target(dev, getattr(args, "addr", None))
        for line in dump_lines(first, last, lambda r: read_register(dev, r, probe_every_zero=False)):
            print(line, flush=True)
