"""korvane: the common jobs on Korvane devices from a shell.

Entry point of the `korvane` command (`korvane = korvane_cli:main`). The
commands live in korvane_cli_io (gpio, adc, i2c), korvane_cli_hub and
korvane_cli_meter; korvane_cli_common holds what they share.

Exit status: 0 success, 1 a device operation failed, 2 bad arguments,
130 interrupted.
"""

import collections
import os
import sys

import korvane_cli_hub
import korvane_cli_io
import korvane_cli_meter
from korvane_cli_common import (
    CliError,
    EXIT_FAILED,
    EXIT_INTERRUPTED,
    EXIT_OK,
    EXIT_USAGE,
    Parser,
    UsageError,
    add_selection,
    identity,
    model_type,
    opened,
    print_json,
    serial_of,
)


def build_parser():
    parser = Parser(
        prog="korvane",
        description="Korvane devices from the shell: the I/O board Vanta, the "
                    "Brondel HUB and the DMM meter.",
        epilog="Exit status: 0 success, 1 a device operation failed, 2 bad arguments.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    commands.required = True

    p = commands.add_parser("list", help="list the attached devices",
                            description="List the attached supported devices.")
    p.add_argument("--json", action="store_true", help="print a JSON array")
    p.set_defaults(run=cmd_list)

    p = commands.add_parser("info", help="identity of one device",
                            description="Open one device and print its identity.")
    p.add_argument("model", type=model_type, metavar="MODEL", help="vanta, hub or dmm")
    add_selection(p)
    p.add_argument("--json", action="store_true", help="print a JSON object")
    p.set_defaults(run=cmd_info)

    for module in (korvane_cli_io, korvane_cli_hub, korvane_cli_meter):
        module.add_commands(commands)
    return parser


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
        print_json(entries)
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
    with opened(kv, args.model, serial_of(args)) as dev:
        info = identity(dev.device)
        info["path"] = dev.path
    if args.json:
        print_json(info)
    else:
        for key, value in info.items():
            print(f"{key + ':':<10}{value}")


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
    except UsageError as error:
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
