"""korvane hub: port status and port power of the Brondel HUB.

Every action works on the hub's port mask (bit p - 1 = port p): one read,
and one write that switches all the ports asked for at once.
"""
from __future__ import annotations

import argparse
import time
from typing import Dict, List, Set, Union

from pykorvane import Brondel

from .common import (
    OpenDevice,
    add_actions,
    add_json,
    finish,
    int_in,
    interrupt_deferred,
    opened,
    print_json,
    seconds,
)

ALL_PORTS = (1 << Brondel.PORTS) - 1
SHOWN_PORTS = 4


def parse_port_list(text: str) -> Union[str, List[int]]:
    """'all', or ports and ranges like '1,3', '2-4' or '1,3-5': a sorted list or 'all'."""
    if text.strip().lower() == "all":
        return "all"
    ports: Set[int] = set()
    for part in text.split(","):
        part = part.strip()
        first, sep, last = part.partition("-")
        try:
            low = int(first)
            high = int(last) if sep else low
        except ValueError:
            raise argparse.ArgumentTypeError(
                f"ports must be 'all', a list like 1,3 or a range like 2-4, not '{text}'")
        if not 1 <= low <= high <= Brondel.PORTS:
            raise argparse.ArgumentTypeError(
                f"ports are numbered 1 to {Brondel.PORTS} and ranges go upwards, not '{part}'")
        ports.update(range(low, high + 1))
    return sorted(ports)


def bits_of(ports: Union[str, List[int]]) -> int:
    if isinstance(ports, str):  # "all"
        return ALL_PORTS
    return sum(1 << (port - 1) for port in ports)


def add_commands(commands: argparse._SubParsersAction) -> None:
    actions = add_actions(commands.add_parser(
        "hub", help="port power of the Brondel HUB",
        description="Show the hub's port status and switch its ports. PORTS is "
                    "'all', a list like 1,3 or a range like 2-4 (ports 1 to 32). "
                    "Every action shows the status afterwards."))

    def status_options(p: argparse.ArgumentParser) -> None:
        p.add_argument("--ports", dest="shown_ports", type=int_in(1, Brondel.PORTS, "the number of ports"),
                       default=SHOWN_PORTS, metavar="N",
                       help=f"how many ports the status lists (default {SHOWN_PORTS}; "
                            "ports switched on beyond it are listed too)")
        add_json(p)

    p = actions.add_parser("status", help="show which ports are on",
                           description="Show the port status (the hub's port mask).")
    status_options(p)
    finish(p, cmd_hub_status, model="hub")

    for name, text in (("on", "switch ports on"), ("off", "switch ports off"),
                       ("toggle", "switch ports that are on off, and those that are off on")):
        p = actions.add_parser(name, help=text, description=f"{text[0].upper()}{text[1:]}.")
        p.add_argument("ports", type=parse_port_list, metavar="PORTS", help="all, 1,3 or 2-4")
        status_options(p)
        finish(p, cmd_hub_switch, model="hub", switch=name)

    p = actions.add_parser("cycle", help="power-cycle ports",
                           description="Switch ports off, wait, switch them on again. "
                                       "Interrupted, it switches them on before it exits.")
    p.add_argument("ports", type=parse_port_list, metavar="PORTS", help="all, 1,3 or 2-4")
    p.add_argument("--delay", type=seconds("the delay", allow_zero=True), default=2.0,
                   help="how long the ports stay off: seconds, or 500ms, 2s, 1m (default 2 s)")
    status_options(p)
    finish(p, cmd_hub_cycle, model="hub")


def read_mask(dev: OpenDevice) -> int:
    with dev.doing("reading the port status"):
        return dev.device.port_mask


def write_mask(dev: OpenDevice, mask: int, what: str) -> None:
    with dev.doing(what):
        dev.device.port_mask = mask


def describe(ports: Union[str, List[int]]) -> str:
    if isinstance(ports, str):
        return "all ports"
    return ("port " if len(ports) == 1 else "ports ") + ",".join(map(str, ports))


def show_status(dev: OpenDevice, mask: int, shown: int, as_json: bool) -> None:
    ports = range(1, max(shown, mask.bit_length()) + 1)
    if as_json:
        status: Dict[str, object] = {
            "device": dev.name, "serial": dev.info.serial, "path": dev.info.path, "mask": mask,
            "on": [p for p in range(1, Brondel.PORTS + 1) if mask >> (p - 1) & 1],
            "ports": {str(p): bool(mask >> (p - 1) & 1) for p in ports},
        }
        print_json(status)
        return
    print(f"{dev.name}: port mask 0x{mask:08x}")
    for p in ports:
        print(f"port {p:>2}: {'on' if mask >> (p - 1) & 1 else 'off'}")


def cmd_hub_status(args: argparse.Namespace) -> None:
    with opened(args) as dev:
        show_status(dev, read_mask(dev), args.shown_ports, args.json)


def cmd_hub_switch(args: argparse.Namespace) -> None:
    bits = bits_of(args.ports)
    with opened(args) as dev:
        mask = read_mask(dev)
        new = {"on": mask | bits, "off": mask & ~bits, "toggle": mask ^ bits}[args.switch]
        verb = "toggling" if args.switch == "toggle" else f"switching {args.switch}"
        write_mask(dev, new & ALL_PORTS, f"{verb} {describe(args.ports)}")
        show_status(dev, read_mask(dev), args.shown_ports, args.json)


def cmd_hub_cycle(args: argparse.Namespace) -> None:
    bits = bits_of(args.ports)
    with opened(args) as dev:
        mask = read_mask(dev)
        try:
            write_mask(dev, mask & ~bits, f"switching off {describe(args.ports)}")
            time.sleep(args.delay)
        finally:
            # Interrupted (Ctrl-C, SIGTERM) or not, the ports do not stay
            # off; a second signal waits until they are on.
            with interrupt_deferred():
                write_mask(dev, read_mask(dev) | bits, f"switching on {describe(args.ports)}")
        show_status(dev, read_mask(dev), args.shown_ports, args.json)
