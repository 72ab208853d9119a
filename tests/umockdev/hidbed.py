"""Korvane devices on emulated hidraw nodes, answered by the firmware models.

A HidBed is a umockdev testbed holding Vanta, Brondel HUB and DMM devices as
the kernel shows a USB HID interface: usb_device > usb_interface > hid >
hidraw, with the udev records hidapi reads (ids, strings, release, interface
number, HID_ID/HID_NAME/HID_UNIQ, report descriptor) and a device node. The
node is a pty in raw mode; a thread per device reads what the host writes on
it and writes back the answers that libkorvane_firmware.so computes.

The process must run under umockdev-wrapper, whose preload library sends
libudev, the opening of /sys and /dev/hidrawN and the ioctls on those nodes
into the testbed: the system's libhidapi-hidraw0 then finds and drives the
devices as real ones.

A pty carries a byte stream, not reports: the host's writes are taken as
65 bytes each (report number 0 and the 64-byte report, as hidapi users of
these devices write them), and the device writes one answer at a time, each
answer of a request before the host sends the next one.
"""
import ctypes
import fcntl
import os
import select
import threading
from typing import List, Optional

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

VENDOR_ID = 0x04D8
PRODUCT_ID = 0xECD0
MANUFACTURER = "Korvane"
RELEASE = 0x0100
REPORT_SIZE = 64
HOST_WRITE = 1 + REPORT_SIZE
HIDRAW_MAJOR = 241
# Vendor page 0xFF00, usage 1: one 64-byte input and one 64-byte output report.
REPORT_DESCRIPTOR = bytes.fromhex(
    "0600ff 0901 a101 1901 2940 1500 26ff00 7508 9540 8102 1901 2940 9102 c0")

HIDIOCGRDESCSIZE = 0x80044801  # _IOR('H', 1, int)
ENOTTY = 25

POLL_MS = 50  # how soon an answering thread sees its stop event
JOIN_S = 5.0


def firmware_library_path() -> str:
    """$KORVANE_FIRMWARE_LIB (ctest sets it), else the one in build/."""
    return os.environ.get("KORVANE_FIRMWARE_LIB") or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "emulator",
        "libkorvane_firmware.so")


class Firmware:
    """One firmware model of libkorvane_firmware.so; thread-safe. Setters
    raise ValueError where the C API refuses (-1)."""

    _lib = None

    @classmethod
    def _library(cls) -> ctypes.CDLL:
        if cls._lib is None:
            lib = ctypes.CDLL(firmware_library_path())
            c_model, u8p = ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint8)
            lib.kfw_create.restype = c_model
            lib.kfw_create.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
            lib.kfw_destroy.argtypes = [c_model]
            lib.kfw_handle_report.argtypes = [c_model, u8p, u8p, ctypes.c_int]
            lib.kfw_set_attribute.argtypes = [c_model, ctypes.c_uint16, u8p, ctypes.c_int]
            lib.kfw_get_attribute.argtypes = [c_model, ctypes.c_uint16, u8p, ctypes.c_int]
            lib.kfw_set_adc.argtypes = [c_model, ctypes.c_int, ctypes.c_uint32]
            lib.kfw_set_reading.argtypes = [c_model, ctypes.c_uint16, ctypes.c_float,
                                            ctypes.c_float, ctypes.c_int]
            lib.kfw_set_i2c_register.argtypes = [c_model, ctypes.c_uint8, ctypes.c_uint8,
                                                 ctypes.c_uint16]
            lib.kfw_get_i2c_register.argtypes = [c_model, ctypes.c_uint8, ctypes.c_uint8]
            cls._lib = lib
        return cls._lib

    def __init__(self, product: str, serial: str) -> None:
        self._fw = self._library()
        self._model = self._fw.kfw_create(product.encode(), serial.encode())
        if not self._model:
            raise ValueError(f"no firmware model for {product!r}")

    def close(self) -> None:
        if getattr(self, "_model", None):
            self._fw.kfw_destroy(self._model)
            self._model = None

    def __del__(self) -> None:
        self.close()

    @staticmethod
    def _checked(result: int) -> int:
        if result < 0:
            raise ValueError("refused by the firmware library")
        return result

    def answer(self, report: bytes) -> List[bytes]:
        """The answers to one 64-byte host report."""
        request = (ctypes.c_uint8 * REPORT_SIZE).from_buffer_copy(report)
        answers = (ctypes.c_uint8 * (4 * REPORT_SIZE))()
        count = self._checked(self._fw.kfw_handle_report(self._model, request, answers, 4))
        return [bytes(answers[i * REPORT_SIZE:(i + 1) * REPORT_SIZE]) for i in range(count)]

    def set_attribute(self, attid: int, value: bytes) -> None:
        buf = (ctypes.c_uint8 * len(value)).from_buffer_copy(value)
        self._checked(self._fw.kfw_set_attribute(self._model, attid, buf, len(value)))

    def attribute(self, attid: int) -> bytes:
        buf = (ctypes.c_uint8 * REPORT_SIZE)()
        return bytes(buf[:self._checked(self._fw.kfw_get_attribute(self._model, attid, buf,
                                                                   REPORT_SIZE))])

    def set_adc(self, channel: int, value: int) -> None:
        self._checked(self._fw.kfw_set_adc(self._model, channel, value))

    def set_reading(self, attid: int, value: float) -> None:
        self._checked(self._fw.kfw_set_reading(self._model, attid, value, 0.0, 0))

    def set_i2c_register(self, address: int, reg: int, value: int) -> None:
        self._checked(self._fw.kfw_set_i2c_register(self._model, address, reg, value))

    def i2c_register(self, address: int, reg: int) -> int:
        return self._checked(self._fw.kfw_get_i2c_register(self._model, address, reg))


class _HidrawIoctl(UMockdev.IoctlBase):
    """The hidraw ioctl hidapi uses on a node: the report descriptor's size,
    with which hid_open_path checks that the node is hidraw (the descriptor
    itself hidapi reads from sysfs). Others fail as unknown requests.
    Runs in umockdev's ioctl thread."""

    def do_handle_ioctl(self, client: UMockdev.IoctlClient) -> bool:
        if client.get_request() == HIDIOCGRDESCSIZE:
            size = len(REPORT_DESCRIPTOR).to_bytes(4, "little")
            client.get_arg().resolve(0, 4).update(0, list(size))
            client.complete(0, 0)
        else:
            client.complete(-1, ENOTTY)
        return True


class Device:
    """A device of the bed. Its firmware keeps its state across unplug and
    replug; path is its node while plugged, None otherwise.

    silent: the device takes host reports but answers none (a hung firmware).
    request_seen: set at each host report the device takes; clear it before
    the call to wait on. sysfs: its hidraw node's sysfs path while plugged
    (for Testbed.uevent)."""

    def __init__(self, product: str, serial: str) -> None:
        self.product = product
        self.serial = serial
        self.firmware = Firmware(product, serial)
        self.path: Optional[str] = None
        self.sysfs: Optional[str] = None
        self.silent = False
        self.request_seen = threading.Event()
        self._usb: Optional[str] = None
        self._master = -1
        self._keeper = -1
        self._stop = threading.Event()
        self._thread: Optional[threading.Thread] = None

    def __repr__(self) -> str:
        return f"<{self.product} {self.serial} at {self.path}>"

    def _serve(self) -> None:
        poller = select.poll()
        poller.register(self._master, select.POLLIN)
        pending = b""
        while not self._stop.is_set():
            if not poller.poll(POLL_MS):
                continue
            try:
                pending += os.read(self._master, 4096)
            except BlockingIOError:
                continue
            except OSError:
                return
            while len(pending) >= HOST_WRITE:
                report, pending = pending[1:HOST_WRITE], pending[HOST_WRITE:]
                self.request_seen.set()
                if not self.silent:
                    for answer in self.firmware.answer(report):
                        self._send(answer)

    def _send(self, report: bytes) -> None:
        poller = select.poll()
        poller.register(self._master, select.POLLOUT)
        while report and not self._stop.is_set():
            try:
                report = report[os.write(self._master, report):]
            except BlockingIOError:
                poller.poll(POLL_MS)  # the host is not reading: wait, or stop


class HidBed:
    """The testbed and its devices. Every plug gets a node number of its own
    (hidraw0, hidraw1, ...), so a replugged device comes back on a new node."""

    def __init__(self) -> None:
        self.testbed = UMockdev.Testbed.new()
        self.root = self.testbed.get_root_dir()
        self._ioctl = _HidrawIoctl()
        self._count = 0
        self.plugged: List[Device] = []

    def plug(self, product: str, serial: str) -> Device:
        device = Device(product, serial)
        self.replug(device)
        return device

    def replug(self, device: Device) -> Device:
        assert device.path is None, f"{device} is plugged"
        n = self._count
        self._count += 1
        tb = self.testbed
        usb_attributes = ["idVendor", f"{VENDOR_ID:04x}", "idProduct", f"{PRODUCT_ID:04x}",
                          "bcdDevice", f"{RELEASE:04x}", "manufacturer", MANUFACTURER,
                          "product", device.product]
        if device.serial:
            usb_attributes += ["serial", device.serial]
        usb = tb.add_device("usb", f"1-{n + 1}", None, usb_attributes, ["DEVTYPE", "usb_device"])
        interface = tb.add_device("usb", f"1-{n + 1}:1.0", usb,
                                  ["bInterfaceNumber", "00", "bInterfaceClass", "03"],
                                  ["DEVTYPE", "usb_interface"])
        hid = tb.add_device("hid", f"0003:{VENDOR_ID:04X}:{PRODUCT_ID:04X}.{n + 1:04X}", interface,
                            [], ["HID_ID", f"0003:{VENDOR_ID:08X}:{PRODUCT_ID:08X}",
                                 "HID_NAME", f"{MANUFACTURER} {device.product}",
                                 "HID_UNIQ", device.serial])
        tb.set_attribute_binary(hid, "report_descriptor", REPORT_DESCRIPTOR)
        # add_device makes no node; a record with an N: line makes a pty.
        node = f"/dev/hidraw{n}"
        # add_from_string sends the node's "add" uevent, as add_device does
        # for the others.
        tb.add_from_string(f"P: {hid[len('/sys'):]}/hidraw/hidraw{n}\nN: {node[len('/dev/'):]}\n"
                           f"E: DEVNAME={node}\nE: SUBSYSTEM=hidraw\n"
                           f"A: dev={HIDRAW_MAJOR}:{n}\nL: device=../..\n")
        tb.attach_ioctl(node, self._ioctl)
        device._master = tb.get_dev_fd(node)
        fcntl.fcntl(device._master, fcntl.F_SETFL,
                    fcntl.fcntl(device._master, fcntl.F_GETFL) | os.O_NONBLOCK)
        # While no one holds the pty's other end, its master reports a
        # hang-up on every poll; this one keeps it open and never reads.
        device._keeper = os.open(os.readlink(self.root + node),
                                 os.O_RDWR | os.O_NOCTTY | os.O_CLOEXEC)
        device._usb, device.path, device.sysfs = usb, node, f"{hid}/hidraw/hidraw{n}"
        device._stop.clear()
        device._thread = threading.Thread(target=device._serve, name=f"answers {node}", daemon=True)
        device._thread.start()
        self.plugged.append(device)
        return device

    def unplug(self, device: Device) -> None:
        """Takes the device off: it leaves udev, its node vanishes and open
        handles on it see a hang-up (poll POLLHUP, reads fail). No uevent
        is sent (umockdev's remove_device sends none, and a uevent needs the
        device's sysfs entry)."""
        assert device.path is not None, f"{device} is not plugged"
        device._stop.set()
        device._thread.join(JOIN_S)
        assert not device._thread.is_alive(), f"{device}: answering thread did not stop"
        node = device.path
        self.testbed.detach_ioctl(node)
        self.testbed.remove_device(device._usb)
        pty = os.readlink(self.root + node)
        for entry in (node, f"/dev/.node/{node[len('/dev/'):]}",
                      "/dev/.ptymap/" + pty.replace("/", "_")):
            os.unlink(self.root + entry)
        # The testbed owns the master's descriptor (and closes it at the
        # end): put /dev/null in its place, which releases the pty.
        null = os.open(os.devnull, os.O_RDWR)
        os.dup2(null, device._master)
        os.close(null)
        os.close(device._keeper)
        device._master = device._keeper = -1
        device.path = device._usb = device.sysfs = None
        self.plugged.remove(device)

    def unplug_all(self) -> None:
        for device in list(self.plugged):
            self.unplug(device)

    def close(self) -> None:
        """Unplugs every device and drops the testbed, which removes its
        directory."""
        self.unplug_all()
        self.testbed = None
