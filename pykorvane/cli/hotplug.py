"""The wait and monitor commands: devices that come and go
(pykorvane.wait_for and pykorvane.monitor)."""
from __future__ import annotations

import argparse
import json
from typing import Any, Dict, Optional

import pykorvane
from pykorvane import DeviceInfo

from .common import CliError, add_json, finish, model_type, print_json, seconds, timestamp


def add_commands(commands: argparse._SubParsersAction) -> None:
    p = commands.add_parser(
        "wait", help="wait until a device is attached",
        description="Wait until a supported device is attached (of MODEL, with --serial, at "
                    "--path; any when none is given) and print it, at once when one is "
                    "attached already. Exit status 1 when --timeout passes first.")
    p.add_argument("product", nargs="?", type=model_type, metavar="MODEL",
                   help="vanta, hub or dmm (default: any model)")
    p.add_argument("-t", "--timeout", type=seconds("the timeout", allow_zero=True), default=None,
                   help="how long to wait: seconds, or 500ms, 2s, 1m (default: as long as it takes)")
    add_json(p)
    finish(p, cmd_wait)

    p = commands.add_parser(
        "monitor", help="print devices as they arrive and leave",
        description="Print a line for each supported device that arrives or leaves (with "
                    "--serial or --path only that device's), until Ctrl-C or SIGTERM.")
    add_json(p)
    finish(p, cmd_monitor)


def entry(info: DeviceInfo) -> Dict[str, Any]:
    """A device as `list` shows it."""
    return {"product": info.product, "serial": info.serial, "path": info.path}


def row(info: DeviceInfo) -> str:
    """A device as a row of `list`: product, serial (- for none), path."""
    return f"{info.product}  {info.serial or '-'}  {info.path}"


def cmd_wait(args: argparse.Namespace) -> None:
    product: Optional[str] = args.product.product if args.product else None
    try:
        info = pykorvane.wait_for(product, serial=getattr(args, "serial", None),
                                  path=getattr(args, "path", None), timeout=args.timeout)
    except TimeoutError as error:
        raise CliError(str(error))
    if args.json:
        print_json(entry(info))
    else:
        print(row(info), flush=True)


def cmd_monitor(args: argparse.Namespace) -> None:
    serial, path = getattr(args, "serial", None), getattr(args, "path", None)
    with pykorvane.monitor() as events:
        for event in events:  # until Ctrl-C or SIGTERM (main() turns them into the exit status)
            info = event.device
            if (serial is not None and info.serial != serial) or (path is not None and info.path != path):
                continue
            if args.json:
                print(json.dumps({"timestamp": timestamp(), "kind": event.kind, **entry(info)}),
                      flush=True)
            else:
                print(f"{timestamp()}  {event.kind:<7}  {row(info)}", flush=True)
