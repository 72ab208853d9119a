"""korvane hub: port status and port power of the Brondel HUB."""

import argparse
import time

from korvane_cli_common import (
    CliError,
    MODELS,
    add_command,
    finish_action,
    int_in,
    open_chosen,
    positive_float,
    print_json,
)

HUB_PORTS = 32
HUB_DEFAULT_SHOWN_PORTS = 4


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


def add_commands(commands):
    actions = add_command(
        commands, "hub", help="port power of the Brondel HUB",
        description="Show the hub's port status and switch its ports. PORTS is "
                    "'all', a list like 1,3 or a range like 2-4 (ports 1 to 32).")

    def shown_ports(p):
        p.add_argument("--ports", dest="shown_ports", type=int_in(1, HUB_PORTS, "the number of ports"),
                       default=HUB_DEFAULT_SHOWN_PORTS, metavar="N",
                       help=f"how many ports the status lists (default {HUB_DEFAULT_SHOWN_PORTS}; "
                            "ports switched on beyond it are listed too)")
        p.add_argument("--json", action="store_true", help="print the status as JSON")

    p = actions.add_parser("status", help="show which ports are on", description="Show the port status.")
    shown_ports(p)
    finish_action(p, cmd_hub_status)

    for name, verb in (("on", "switch ports on"), ("off", "switch ports off")):
        p = actions.add_parser(name, help=verb, description=f"{verb.capitalize()}, then show the status.")
        p.add_argument("ports", type=parse_port_list, metavar="PORTS", help="all, 1,3 or 2-4")
        shown_ports(p)
        finish_action(p, cmd_hub_switch, switch_on=(name == "on"))

    p = actions.add_parser("cycle", help="power-cycle ports",
                           description="Switch ports off, wait, switch them on again.")
    p.add_argument("ports", type=parse_port_list, metavar="PORTS", help="all, 1,3 or 2-4")
    p.add_argument("--delay", type=positive_float("the delay", allow_zero=True), default=2.0,
                   help="seconds the ports stay off (default 2)")
    shown_ports(p)
    finish_action(p, cmd_hub_cycle)


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
        print_json({
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


def _open_hub(kv, args):
    return open_chosen(kv, args, "hub")


def _hub_identity(kv, args):
    """Name, serial and path of the chosen hub, with the hub closed again."""
    with _open_hub(kv, args) as dev:
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
    with _open_hub(kv, args) as dev:
        _switch(dev, args.ports, args.switch_on)
        chosen = dev.name, dev.device.getProductSerial(), dev.path
    _show_hub_status(kv, args, *chosen)


def cmd_hub_cycle(kv, args):
    with _open_hub(kv, args) as dev:
        _switch(dev, args.ports, False)
        try:
            time.sleep(args.delay)
        finally:
            # Interrupted or not, the ports do not stay off.
            _switch(dev, args.ports, True)
        chosen = dev.name, dev.device.getProductSerial(), dev.path
    _show_hub_status(kv, args, *chosen)
