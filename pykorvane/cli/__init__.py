"""korvane: the common jobs on Korvane devices from a shell.

The `korvane` command (``korvane = "pykorvane.cli:main"``, or
``python -m pykorvane``). The commands live in io (gpio, adc, i2c), hub,
meter and hotplug (wait, monitor); common holds what they share.

Exit status: 0 success, 1 a device operation failed, 2 bad arguments,
130 interrupted (Ctrl-C), 143 terminated (SIGTERM).
"""
from __future__ import annotations

import argparse
import os
import signal
import sys
from typing import List, Optional, Sequence

import pykorvane
from pykorvane import devices
from pykorvane.discovery import device_at

from . import hotplug, hub, io, meter
from .common import (
    EXIT_FAILED,
    EXIT_INTERRUPTED,
    EXIT_OK,
    EXIT_TERMINATED,
    EXIT_USAGE,
    CliError,
    Parser,
    UsageError,
    add_json,
    add_selection,
    finish,
    interrupts_noted,
    model_type,
    opened,
    print_json,
)

__all__ = ["main", "build_parser"]


def build_parser() -> Parser:
    parser = Parser(
        prog="korvane",
        description="Korvane devices from the shell: the I/O board Vanta, the "
                    "Brondel HUB and the DMM meter.",
        epilog="Exit status: 0 success, 1 a device operation failed, 2 bad arguments, "
               "130 interrupted (Ctrl-C), 143 terminated (SIGTERM).")
    parser.add_argument("--version", action="version", version=f"korvane {pykorvane.__version__}")
    add_selection(parser)
    # Also taken before the command, as -s/-p are; parse() refuses it for a
    # command that has no --json of its own.
    parser.add_argument("--json", action="store_true", default=argparse.SUPPRESS,
                        help="print JSON instead of text (the commands that read)")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    commands.required = True

    p = commands.add_parser("list", help="list the attached devices",
                            description="List every attached device (duplicates included) "
                                        "with the path to choose it by; with --serial or "
                                        "--path only the devices that match (exit status 1 "
                                        "when none does).")
    add_json(p)
    finish(p, cmd_list)

    p = commands.add_parser("info", help="identity of one device",
                            description="Open one device and print its identity.")
    p.add_argument("model", type=model_type, metavar="MODEL", help="vanta, hub or dmm")
    add_json(p)
    finish(p, cmd_info)

    for module in (io, hub, meter, hotplug):
        module.add_commands(commands)
    return parser


def cmd_list(args: argparse.Namespace) -> None:
    serial, path = getattr(args, "serial", None), getattr(args, "path", None)
    found = devices() if path is None else [info for info in [device_at(path)] if info is not None]
    matching = [info for info in found if serial is None or info.serial == serial]
    if not matching and (serial is not None or path is not None):
        wanted = f"with serial number '{serial}'" if path is None else f"at {path}"  # not both
        attached = ", ".join(repr(info.serial) for info in found)
        raise CliError(f"no device {wanted} attached" + (f" (attached: {attached})" if attached else ""))
    entries = [{"product": i.product, "serial": i.serial, "path": i.path} for i in matching]
    if args.json:
        print_json(entries)
        return
    if not entries:
        print("korvane: no supported device attached", file=sys.stderr)
        return
    rows = [("PRODUCT", "SERIAL", "PATH")] + [
        (e["product"], e["serial"] or "-", e["path"]) for e in entries]
    widths = [max(len(row[i]) for row in rows) for i in range(2)]
    for row in rows:
        print(f"{row[0]:<{widths[0]}}  {row[1]:<{widths[1]}}  {row[2]}")


def cmd_info(args: argparse.Namespace) -> None:
    with opened(args) as dev:
        with dev.doing("reading the identity"):
            device = dev.device
            info = {"vendor": device.vendor, "product": device.product, "revision": device.revision,
                    "serial": device.serial, "firmware": device.firmware, "path": dev.info.path}
    if args.json:
        print_json(info)
    else:
        for key, value in info.items():
            print(f"{key + ':':<10}{value or '-'}")


def parse(parser: Parser, argv: Optional[Sequence[str]]) -> argparse.Namespace:
    """The arguments; unknown ones are reported by the command they follow,
    with its usage, not by the top level."""
    args, extra = parser.parse_known_args(argv)
    reporter = getattr(args, "parser", parser)
    if extra:
        reporter.error(f"unrecognized arguments: {' '.join(extra)}")
    if getattr(args, "serial", None) is not None and getattr(args, "path", None) is not None:
        reporter.error("choose a device by --serial or by --path, not both")
    # --json before the command: only for the commands that take it.
    args.json = getattr(args, "json", False)
    if args.json and not getattr(args, "takes_json", False):
        reporter.error("unrecognized arguments: --json")
    return args


def main(argv: Optional[List[str]] = None) -> int:
    parser = build_parser()
    try:
        args = parse(parser, argv)
    except UsageError as error:
        print(error, file=sys.stderr)
        return EXIT_USAGE
    except SystemExit as done:  # --help, --version
        return done.code if isinstance(done.code, int) else EXIT_OK
    try:
        with interrupts_noted():
            code = args.run(args)
    except UsageError as error:  # arguments that only make sense together
        print(error, file=sys.stderr)
        return EXIT_USAGE
    except CliError as error:
        sys.stdout.flush()
        print(f"korvane: {error}", file=sys.stderr)
        return EXIT_FAILED
    except KeyboardInterrupt as stop:
        # Ctrl-C, or SIGTERM (an Interrupted saying so).
        terminated = getattr(stop, "signum", signal.SIGINT) == signal.SIGTERM
        sys.stdout.flush()
        print("korvane: " + ("terminated" if terminated else "interrupted"), file=sys.stderr)
        return EXIT_TERMINATED if terminated else EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader of the output went away (`| head`): nothing left to
        # say, and the interpreter's final flush must not complain either.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_OK
    return EXIT_OK if code is None else code

