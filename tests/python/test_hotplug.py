"""pykorvane.wait_for and pykorvane.monitor on emulated devices, which send
no uevents: the monitor sees them on its 200 ms period. Every wait is
bounded; changes are made once the waiting has begun (from a timer thread)
or before the monitor looks."""
import json
import re
import signal
import sys
import threading
import time

import pytest

import pykorvane as pk

BOUND_S = 5.0  # every wait for something that must happen
SERIALS = {"Vanta": "VT-0001", "Brondel HUB": "BH-0001", "DMM": "DM-0001"}


def later(action, delay=0.1):
    """Runs action on a timer thread; join() it."""
    timer = threading.Timer(delay, action)
    timer.start()
    return timer


def info_of(dev):
    """The emulated device's record as pykorvane.devices() lists it."""
    return next(i for i in pk.devices() if i.path == dev.path)


# ---------------------------------------------------------------- wait_for

@pytest.mark.parametrize("choice", [
    {}, {"product": "dmm"}, {"serial": "DM-0001"}, {"path": "/dev/emu-meter"},
    {"path": "/dev/emu-meter:1"},  # any interface's path gives the device
    {"product": "DMM", "serial": "DM-0001", "path": "/dev/emu-meter"}])
@pytest.mark.parametrize("attached", [True, False], ids=["attached", "arrives"])
def test_wait_for_returns_the_device(emu, choice, attached):
    if choice:
        emu.add("Vanta", serial="VT-0009")  # attached, but not the one chosen

    def plug():
        emu.add("DMM", serial="DM-0001", path="/dev/emu-meter").set_interfaces(2)

    if attached:
        plug()
    timer = None if attached else later(plug)
    start = time.monotonic()
    info = pk.wait_for(**choice, timeout=BOUND_S)
    took = time.monotonic() - start
    if timer:
        timer.join()
    assert info == pk.devices("DMM")[0]
    assert info.path == "/dev/emu-meter" and info.interface == 0
    assert took < (0.1 if attached else BOUND_S)


@pytest.mark.parametrize("choice, message", [
    ({}, "no supported device attached within 0.3 s"),
    ({"product": "vanta"}, "no Vanta attached within 0.3 s"),
    ({"serial": "DM-0002"}, "no supported device with serial number 'DM-0002' attached within 0.3 s"),
    ({"path": "/dev/nothing"}, "no supported device at /dev/nothing attached within 0.3 s"),
])
def test_wait_for_times_out(emu, choice, message):
    if choice:
        emu.add("DMM", serial="DM-0001")
    start = time.monotonic()
    with pytest.raises(TimeoutError, match=f"^{message}$"):
        pk.wait_for(**choice, timeout=0.3)
    assert 0.3 <= time.monotonic() - start < 0.3 + 1.0


def test_wait_for_without_timeout_ends_on_ctrl_c(emu):
    main = threading.main_thread().ident
    timer = later(lambda: signal.pthread_kill(main, signal.SIGINT))
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        pk.wait_for("DMM")
    timer.join()
    assert time.monotonic() - start < 1.5


@pytest.mark.parametrize("arguments, error", [
    ({"product": "toaster"}, ValueError), ({"product": 3}, TypeError), ({"serial": 1}, TypeError),
    ({"path": b"/dev/x"}, TypeError), ({"timeout": -1}, ValueError), ({"timeout": "1"}, TypeError),
    ({"timeout": float("nan")}, ValueError), ({"timeout": True}, TypeError)])
def test_wait_for_refuses_bad_arguments(emu, arguments, error):
    with pytest.raises(error):
        pk.wait_for(**arguments)


# ---------------------------------------------------------------- monitor

def change_of(emu, kind):
    """A device and the change that makes an event of `kind`: (device,
    action)."""
    if kind == "added":
        return None, lambda: emu.add("DMM", serial="DM-0001")
    dev = emu.add("DMM", serial="DM-0001")
    return dev, dev.unplug


@pytest.mark.parametrize("kind", ["added", "removed"])
@pytest.mark.parametrize("form", ["next", "iterate", "callback"])
def test_monitor_reports_arrival_and_departure(emu, kind, form):
    emu.add("Vanta", serial="VT-0001")  # attached before: no event
    dev, change = change_of(emu, kind)
    gone = info_of(dev) if dev else None
    got = []
    if form == "callback":
        arrived = threading.Event()
        with pk.monitor(callback=lambda e: (got.append(e), arrived.set())) as mon:
            change()
            assert arrived.wait(BOUND_S)
            time.sleep(0.3)  # no other event follows
        assert not mon.running
    else:
        with pk.monitor(timeout=None if form == "next" else 1.0) as mon:
            change()
            if form == "next":
                got.append(mon.next(BOUND_S))
                assert mon.next(0.3) is None
            else:
                got.extend(mon)  # until the monitor's timeout
    device = gone if kind == "removed" else pk.devices("DMM")[0]
    assert got == [pk.DeviceEvent(kind, device)]


def looked(mon, *paths):
    """Waits (bounded) until the monitor's core has looked and seen exactly
    these record paths attached, without taking its events."""
    deadline = time.monotonic() + BOUND_S
    while sorted(r[0] for r in mon._core.attached()) != sorted(paths):
        assert time.monotonic() < deadline, f"the monitor did not see {paths}"
        time.sleep(0.02)


def test_monitor_keeps_every_change_in_order(emu):
    """A device power-cycled while nobody takes events is gone and back."""
    board = emu.add("Vanta", serial="VT-0001", path="/dev/emu-board")
    before = info_of(board)
    with pk.monitor() as mon:
        meter = emu.add("DMM", serial="DM-0001", path="/dev/emu-meter")
        meter.set_interfaces(2)  # one device, one event
        looked(mon, "/dev/emu-board", "/dev/emu-meter", "/dev/emu-meter:1")
        board.unplug()
        looked(mon, "/dev/emu-meter", "/dev/emu-meter:1")
        board.replug()
        looked(mon, "/dev/emu-board", "/dev/emu-meter", "/dev/emu-meter:1")
        events = [mon.next(0) for _ in range(4)]
        assert sorted(mon.attached, key=str) == sorted(pk.devices(), key=str)
    assert events == [pk.DeviceEvent("added", info_of(meter)), pk.DeviceEvent("removed", before),
                      pk.DeviceEvent("added", before), None]


def test_monitor_timeout_and_stop(emu):
    start = time.monotonic()
    assert list(pk.monitor(timeout=0.3)) == []
    assert 0.3 <= time.monotonic() - start < 0.3 + 1.0
    mon = pk.monitor()
    later(mon.stop, 0.2)
    assert mon.next() is None and not mon.running  # stop() from another thread ends the wait
    mon.stop()  # again: nothing happens
    assert mon.next(0) is None


def test_callback_failure_stops_the_monitor(emu):
    failures = []
    hook, threading.excepthook = threading.excepthook, failures.append
    try:
        mon = pk.monitor(callback=lambda event: 1 / 0)
        emu.add("DMM", serial="DM-0001")
        deadline = time.monotonic() + BOUND_S
        while mon.running and time.monotonic() < deadline:
            time.sleep(0.05)
        mon.stop()
    finally:
        threading.excepthook = hook
    assert not mon.running
    assert [f.exc_type for f in failures] == [ZeroDivisionError]
    with pytest.raises(RuntimeError, match="callback"):
        mon.next(0)


# ---------------------------------------------------------------- the korvane command

class Lines:
    """Standard output that tells when its lines come."""

    def __init__(self):
        self.text = ""
        self.changed = threading.Condition()

    def write(self, text):
        with self.changed:
            self.text += text
            self.changed.notify_all()
        return len(text)

    def flush(self):
        pass

    def wait(self, count):
        with self.changed:
            assert self.changed.wait_for(lambda: self.text.count("\n") >= count, BOUND_S), self.text
        return self.text.splitlines()


def test_cli_wait_and_monitor(emu, monkeypatch, capsys):
    from pykorvane import cli

    assert cli.main(["wait", "dmm", "--timeout", "200ms"]) == 1
    assert capsys.readouterr() == ("", "korvane: no DMM attached within 0.2 s\n")
    timer = later(lambda: emu.add("DMM", serial="DM-0001", path="/dev/emu-meter"))
    assert cli.main(["wait", "-s", "DM-0001", "-t", "5s"]) == 0
    timer.join()
    assert capsys.readouterr() == ("DMM  DM-0001  /dev/emu-meter\n", "")

    out = Lines()
    monkeypatch.setattr(sys, "stdout", out)
    main = threading.main_thread().ident

    def operator():
        board = emu.add("Vanta", serial="VT-0001", path="/dev/emu-board")
        out.wait(1)
        board.unplug()
        out.wait(2)
        signal.pthread_kill(main, signal.SIGINT)  # Ctrl-C

    timer = later(operator)
    assert cli.main(["monitor", "--json"]) == 130
    timer.join()
    events = [json.loads(line) for line in out.wait(2)]
    assert [{k: e[k] for k in ("kind", "product", "serial", "path")} for e in events] == [
        {"kind": kind, "product": "Vanta", "serial": "VT-0001", "path": "/dev/emu-board"}
        for kind in ("added", "removed")]
    assert all(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d", e["timestamp"])
               for e in events)
    assert capsys.readouterr().err == "korvane: interrupted\n"
