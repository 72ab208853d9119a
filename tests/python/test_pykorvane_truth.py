"""pykorvane: what an object believes about its device is true, or it knows
it does not know. Multi-step operations put the device back when a step
fails, an open either opens or raises, a dropped device object closes its
device, idle connections cost nothing, a close ends a wait at once, and
messages name the call made."""
import os
import threading
import time

import pytest

import pykorvane as pk
from device_helpers import R, W, when_requested

I2C_TARGET, I2C_DATA1 = 0x1400, 0x1402
MALFORMED = bytes([0xC4, 0x13, 0x01, 0x00])


def test_a_failed_scan_never_sends_data_to_another_target(emu):
    dev = emu.add("Vanta", serial="VT-1")
    dev.add_i2c_target(0x08)
    with pk.Vanta() as board:
        board.i2c.target = 0x40
        dev.raw_answer(I2C_DATA1, MALFORMED)  # the first probe's read is malformed
        with pytest.raises(pk.MalformedAnswerError):
            board.i2c.scan()
        dev.raw_answer(I2C_DATA1, None)
        board.i2c.write(0x30, 0xBEEF)
        assert (dev.get_i2c_register(0x40, 0x30), dev.get_i2c_register(0x08, 0x30)) == (0xBEEF, 0)


def test_a_target_a_scan_could_not_set_back_is_sent_before_the_next_access(emu):
    dev = emu.add("Vanta", serial="VT-1")
    dev.add_i2c_target(0x08)
    board = pk.Vanta().open()
    board.i2c.target = 0x40
    dev.answer_delay(300)  # room for the unplug after the bridge moved to 0x08
    with when_requested(dev, lambda requests: W(I2C_TARGET, b"\x08") in requests, dev.unplug):
        with pytest.raises(pk.DeviceGoneError):
            board.i2c.scan()
    dev.answer_delay(0)
    dev.replug()
    board.open()
    dev.clear_log()
    board.i2c.write(0x30, 0xBEEF)
    assert dev.requests()[0] == W(I2C_TARGET, b"\x40")
    assert (dev.get_i2c_register(0x40, 0x30), dev.get_i2c_register(0x08, 0x30)) == (0xBEEF, 0)
    board.close()


def test_a_failed_mode_change_leaves_the_pin_as_it_was(emu):
    dev = emu.add("Vanta", serial="VT-1")
    with pk.Vanta() as board:
        board.gpio.mode(6, "output")
        before = {a: dev.get_attribute(a) for a in (0x1200, 0x1201, 0x1202)}
        dev.fail_attribute(0x1200)  # the direction, written last, is refused
        with pytest.raises(pk.RefusedError):
            board.gpio.mode(6, "pullup")
        assert {a: dev.get_attribute(a) for a in before} == before


def test_open_of_a_device_unplugged_while_opening_raises(emu):
    dev = emu.add("Vanta", serial="VT-1")
    dev.mute()  # the identity read waits, and the unplug lands in that wait
    board = pk.Vanta()
    with when_requested(dev, lambda requests: R(0) in requests, dev.unplug) as unplugged:
        with pytest.raises(pk.DeviceNotFoundError, match="unplugged while it was being opened"):
            board.open()
    assert unplugged.is_set() and not board.is_open


def test_calls_after_a_failed_reopen_say_why(emu):
    dev = emu.add("DMM", serial="DM-1")
    meter = pk.Dmm().open()
    dev.unplug()
    with pytest.raises(pk.DeviceGoneError):
        meter.voltage
    dev.refuse_open()
    dev.replug()
    with pytest.raises(pk.DeviceOpenError):
        meter.open()
    with pytest.raises(pk.NotOpenError, match="its last open failed: DMM at .* cannot be opened"):
        meter.voltage


def voluntary_switches():
    """Voluntary context switches of this process's threads but this one."""
    total = 0
    for tid in os.listdir("/proc/self/task"):
        if int(tid) == os.getpid():
            continue
        with open(f"/proc/self/task/{tid}/status") as status:
            total += sum(int(line.split()[1]) for line in status if line.startswith("voluntary_ctxt"))
    return total


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs Linux's /proc")
@pytest.mark.parametrize("opened", [False, True])
def test_idle_connections_sleep(emu, opened):
    idle = [pk.Vanta(serial=f"VT-{n}") for n in range(20)]
    for board in idle if opened else ():
        emu.add("Vanta", serial=board._wanted_serial)
        board.open()
    before = voluntary_switches()
    time.sleep(0.5)
    # Threads polling every millisecond would wake about 20 * 500 times.
    assert voluntary_switches() - before < 200
    for board in idle:
        board.close()


@pytest.mark.parametrize("product, call, named", [
    ("Brondel HUB", lambda hub: hub.is_port_on(3), "is_port_on(3)"),
    ("Vanta", lambda board: board.adc.read_all(), "adc.read_all()")])
def test_messages_name_the_call_made(opened_pykorvane, product, call, named):
    model, dev = opened_pykorvane(product)
    dev.mute()
    dev.unplug()
    with pytest.raises(pk.DeviceGoneError, match=named.replace("(", r"\(").replace(")", r"\)")):
        call(model)


def test_a_close_ends_another_threads_wait_at_once(emu):
    dev = emu.add("DMM", serial="DM-1")
    meter = pk.Dmm().open()
    dev.mute()
    failure = []

    def read():
        try:
            meter.voltage
        except pk.KorvaneError as error:
            failure.append(error)

    reader = threading.Thread(target=read)
    with when_requested(dev, lambda requests: R(0x8101) in requests, meter.close) as closed:
        started = time.monotonic()
        reader.start()
        reader.join(10)
    assert closed.is_set() and not reader.is_alive()
    # Far below the 1 s wait bound: the close did not wait it out.
    assert time.monotonic() - started < 0.5
    assert isinstance(failure[0], pk.NotOpenError)


def test_writing_one_pin_changes_no_other_pins_output(emu):
    emu.add("Vanta", serial="VT-1")
    with pk.Vanta() as board:
        gpio = board.gpio
        gpio.mode(4, "pullup")  # reads high, but its output latch stays low
        gpio.mode(5, "output")
        gpio.write(5, True)
        gpio.mode(4, "output")
        assert (gpio.read(4), gpio.read(5)) == (False, True)
        assert [gpio.mode(pin) for pin in (4, 6)] == [pk.PinMode.OUTPUT, pk.PinMode.INPUT]
        gpio.mode(6, "pulldown")
        assert gpio.mode(6) is pk.PinMode.PULLDOWN
        with pytest.raises(ValueError, match="pin 6 is an input"):
            gpio.write(6, True)
