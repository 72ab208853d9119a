#!/usr/bin/env python3
"""A first tour of every supported device that is attached.

Lists the devices with their serial numbers, then opens the first device of
each model and uses it the way one starts with it: the I/O board drives a
pin, reads its analogue channels and its I2C target; the hub switches ports;
the meter reads voltage, current, calibration and its register dump.

Library operations report failure by returning True (not False!) or a
sentinel value; every result below is checked and explained in words.
Exit status: 0 when every device present worked, 1 when something failed,
2 when no supported device is attached.
"""
import struct
import sys

import korvane

FAILED_MASK = 0xFFFFFFFF
# The meter's failure value -999.9, as the single-precision number it is.
FAILED_READING = struct.unpack("<f", struct.pack("<f", -999.9))[0]
DEMO_PIN = 5
I2C_TARGET = 0x40
DIE_ID_REGISTER = 0xFF


class Checker:
    """Prints each step's outcome and remembers whether any step failed."""

    def __init__(self):
        self.failures = 0

    def step(self, failed, what, detail=""):
        if failed:
            self.failures += 1
            print("  FAILED: %s" % what)
        else:
            print("  %s%s" % (what, ": " + detail if detail else ""))
        return not failed


def list_devices(manager):
    names = manager.getDeviceList()
    print("Supported devices attached: %d" % len(names))
    for name in sorted(set(names)):
        for serial in manager.getSerialList(name):
            print("  %-12s serial %s" % (name, serial or "(none)"))
    return names


def show_identity(device):
    print("  %s %s rev %s, serial %s, firmware %s" % (
        device.getVendorName(), device.getProductName(), device.getProductRevision(),
        device.getProductSerial(), device.getFirmVersion()))


def tour_board(board, check):
    led = korvane.Pin(board, DEMO_PIN)
    if check.step(led.mode(korvane.OUTPUT_PIN), "pin %d set as output" % DEMO_PIN):
        for high, drive in ((True, led.on), (False, led.off)):
            level = "high" if high else "low"
            if not check.step(drive(), "pin %d driven %s" % (DEMO_PIN, level)):
                continue
            levels = board.gpiohw.read()
            if check.step(levels == FAILED_MASK, "level mask read", "0x%08x" % levels):
                check.step(bool(levels >> DEMO_PIN & 1) != high, "pin %d reads back %s" % (DEMO_PIN, level))

    readings = [board.adchw.analogRead(channel) for channel in range(8)]
    failed = [str(ch) for ch, value in enumerate(readings) if value == FAILED_MASK]
    check.step(bool(failed), "ADC channels 0-7 read" if not failed
               else "ADC channel(s) %s read" % ", ".join(failed),
               " ".join(str(value) for value in readings))

    if check.step(board.i2chw.setI2cDeviceAddr(I2C_TARGET), "I2C target set to 0x%02x" % I2C_TARGET):
        die_id = board.i2chw.read2byte(DIE_ID_REGISTER)
        # 0 is both an empty register and the failure value: say so, don't guess.
        print("  I2C register 0x%02x (die id): 0x%04x%s" % (
            DIE_ID_REGISTER, die_id, " (zero: no die id there, or the transfer failed)" if die_id == 0 else ""))


def read_port_mask(hub):
    """The port mask as the hub reports it, or None when it cannot be read.
    The Brondel class keeps the mask it reads to itself, so this asks the hub
    over a link of its own: one read of the port attribute."""
    path = korvane.KorDeviceManager().getPathByNameAndSerial("Brondel HUB", hub.getProductSerial())
    link = korvane.KorDevice()
    if path is None or link.open(path):
        return None
    with link:
        service = korvane.KorService(link)
        ports = korvane.Attribute(korvane.ATT_USB_PORT_CTRL, korvane.PERMISSION_READABLE_WRITABLE, 0)
        failed = service.readAttribute(ports)
        del service  # it reads through the link: gone before the link closes
    return None if failed else ports.getValueUint32()


def tour_hub(hub, check):
    # Start from a known mask (all ports on), switch one port off and on
    # again, and leave the hub with every port powered.
    steps = [("all ports on", hub.enableAllUsbPort, 0xFFFFFFFF),
             ("port 3 off", lambda: hub.disableUsbPort(3), 0xFFFFFFFB),
             ("port 3 on", lambda: hub.enableUsbPort(3), 0xFFFFFFFF)]
    for what, switch, mask in steps:
        check.step(switch(), what, "port mask written 0x%08x" % mask)
    mask = read_port_mask(hub)
    check.step(mask is None, "port mask read back from the hub", "0x%08x" % (mask or 0))


def tour_meter(meter, check):
    for name, read in (("voltage", meter.getVoltage), ("current", meter.getCurrent)):
        value = read()
        check.step(value == FAILED_READING, name + " read", "%.4f" % value)
    offsets = meter.getCalibrationData()
    if check.step(offsets == "", "calibration offsets read"):
        for line in offsets.splitlines():
            print("    " + line)
    die_id = meter.getDieID()
    check.step(die_id == 0, "die id read", "0x%04x" % die_id)
    print("  register dump:")
    for line in meter.showReg().splitlines():
        print("    " + line)


MODELS = [("Vanta", korvane.Vanta, tour_board),
          ("Brondel HUB", korvane.Brondel, tour_hub),
          ("DMM", korvane.Dmm, tour_meter)]


def main():
    names = list_devices(korvane.KorDeviceManager())
    if not names:
        print("No supported device is attached (vendor 0x%04X, product 0x%04X)."
              % (korvane.USB_VID_PIC, korvane.USB_PID_PIC))
        return 2
    check = Checker()
    for name, model, tour in MODELS:
        if name not in names:
            continue
        print()
        print("%s:" % name)
        device = model()
        if not check.step(device.open(), "opened"):
            print("  (the device may be in use, or access to it is not permitted)")
            continue
        show_identity(device)
        tour(device, check)
        check.step(device.close(), "closed")
    print()
    if check.failures:
        print("%d step(s) failed." % check.failures)
        return 1
    print("Every device worked.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
