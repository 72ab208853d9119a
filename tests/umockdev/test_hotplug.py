"""Devices that come and go on the hidraw path: the core's monitor wakes on
the uevents umockdev sends through the real libudev, and pykorvane's
wait_for and monitor work over it."""
import threading

import pykorvane
from pykorvane import _core

from hidbed import MANUFACTURER, RELEASE

# Longer than any wait of the first test: whatever that monitor sees, a
# uevent made it look.
NO_PERIOD_MS = 600_000
BOUND_MS = 5000
BOUND_S = BOUND_MS / 1000


def record(device, interface=0):
    return (device.path, device.product, device.serial, MANUFACTURER, RELEASE, interface)


def test_uevents_wake_the_monitor(bed):
    monitor = _core.HotplugMonitor(NO_PERIOD_MS)
    try:
        assert monitor.wakes_on_udev()
        meter = bed.plug("DMM", "DM-0001")  # the hidraw node's "add" uevent
        assert monitor.wait(BOUND_MS) == [("added", record(meter))]
        # A uevent makes the monitor look; what it reports is what changed.
        bed.testbed.uevent(meter.sysfs, "change")
        bed.testbed.uevent(meter.sysfs, "add")
        assert monitor.wait(300) == []
        # remove_device sends no uevent: the next one's look finds the gap.
        gone = record(meter)
        bed.unplug(meter)
        board = bed.plug("Vanta", "VT-0001")
        assert monitor.wait(BOUND_MS) == [("removed", gone), ("added", record(board))]
        assert monitor.attached() == [record(board)]
    finally:
        monitor.stop()


def test_wait_for_and_monitor_on_hidraw(bed):
    with pykorvane.monitor() as events:
        plugged = []
        plugger = threading.Timer(0.2, lambda: plugged.append(bed.plug("DMM", "DM-0042")))
        plugger.start()
        info = pykorvane.wait_for("dmm", serial="DM-0042", timeout=BOUND_S)
        plugger.join()
        assert info == pykorvane.devices("DMM")[0] and info.path == plugged[0].path
        assert events.next(BOUND_S) == pykorvane.DeviceEvent("added", info)
        bed.unplug(plugged[0])  # no uevent: the monitor's period finds it
        assert events.next(BOUND_S) == pykorvane.DeviceEvent("removed", info)
        assert events.next(0.3) is None
