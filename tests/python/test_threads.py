"""Threads: calls that wait on a device let other Python threads run, calls
on one connection run one at a time, a gone device fails at once, and one
device is open in one connection at a time."""
import gc
import threading
import time

import pytest

import _korvane as K
import korvane
from device_helpers import FAILED_READING, IDENTITY_READS, OPEN_FAILED, R, opened

JOIN = 30.0  # bound on every join: far above any wait a call may take


def wait_until(condition, timeout=10.0):
    """Polls condition (a look at the emulator's log or state) until it
    holds; False when the bound passed first."""
    give_up = time.monotonic() + timeout
    while time.monotonic() < give_up:
        if condition():
            return True
        time.sleep(0.001)
    return condition()


def in_thread(call):
    """Runs call on a thread; returns the thread and a list that receives
    the call's result."""
    result = []
    thread = threading.Thread(target=lambda: result.append(call()), daemon=True)
    thread.start()
    return thread, result


def test_other_threads_run_while_a_call_waits_on_a_muted_device(emu):
    muted, muted_dev = opened(emu, korvane.Dmm, "DMM", "DM-MUTE")
    busy, _ = opened(emu, korvane.Dmm, "DMM", "DM-BUSY")
    muted_dev.mute()
    waiter, result = in_thread(muted.getVoltage)
    assert wait_until(lambda: muted_dev.requests() == [R(korvane.ATT_VOLTAGE)])
    done_meanwhile = 0
    while waiter.is_alive():
        assert busy.getCurrent() == 0.25
        done_meanwhile += 1
    waiter.join(JOIN)
    assert result == [FAILED_READING]
    # About a thousand in the one-second wait; none while the lock was held.
    assert done_meanwhile >= 20


def test_multi_step_operations_of_threads_on_one_board_stay_whole(emu):
    board, dev = opened(emu, korvane.Vanta, "Vanta", "VT-0001")
    pins = range(0, 32, 2)
    start = threading.Barrier(len(pins))

    # Each bit is set once: a later round would mend a bit lost earlier.
    def drive(pin):
        start.wait(JOIN)
        assert board.gpiohw.pinMode(pin, korvane.OUTPUT_PIN) is False
        assert board.gpiohw.digitalWrite(pin, True) is False
        assert board.i2chw.write2byte(pin, pin) is False

    threads = [threading.Thread(target=drive, args=(pin,)) for pin in pins]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(JOIN)
    every = sum(1 << pin for pin in pins)
    # A lost update (a read-modify-write interleaved with another) would
    # leave some thread's bit clear, or a register written through another
    # thread's register address.
    # Direction bits are set for inputs, which every pin starts as.
    assert int.from_bytes(dev.get_attribute(korvane.ATT_GPIO0_BASE), "little") == 0xFFFFFFFF ^ every
    assert int.from_bytes(dev.get_attribute(korvane.ATT_GPIO0_BASE + 3), "little") == every
    assert [dev.get_i2c_register(0x40, pin) for pin in pins] == list(pins)


def test_deleting_a_model_waits_for_a_call_in_progress(emu):
    meter, dev = opened(emu, korvane.Dmm, "DMM", "DM-0001")
    dev.mute()
    waiter, result = in_thread(meter.getVoltage)
    assert wait_until(lambda: dev.requests() == [R(korvane.ATT_VOLTAGE)])
    K.delete_Dmm(meter)
    # The deletion waited for the call: its link is released, the call ended
    # with the failure value, and nothing touched freed memory.
    assert emu.open_handle_count() == 0
    waiter.join(JOIN)
    assert result == [FAILED_READING]


def test_blocking_hid_read_lets_other_threads_run_and_ends_when_the_device_goes(emu):
    silent = emu.add("Vanta", serial="VT-SILENT")
    busy, _ = opened(emu, korvane.Dmm, "DMM", "DM-0001")
    handle = K.hid_open_path(silent.path)
    packet = korvane.korPacket()
    reader, result = in_thread(lambda: K.hid_read(handle, packet.dat, 65))
    for _ in range(50):
        assert busy.getVoltage() == 5.0
    assert reader.is_alive()
    silent.unplug()
    reader.join(JOIN)
    assert result == [-1]
    K.hid_close(handle)


def test_a_call_on_an_unplugged_device_fails_at_once(emu):
    meter, dev = opened(emu, korvane.Dmm, "DMM", "DM-0001")
    dev.unplug()
    started = time.monotonic()
    assert meter.getVoltage() == FAILED_READING
    assert meter.getCurrent() == FAILED_READING
    # The requests never left: no wait for an answer (1 s each) or a late one.
    assert time.monotonic() - started < 1.0
    assert meter.isConnected() is False
    dev.replug()
    assert meter.open() is False
    assert meter.getVoltage() == 5.0


def test_unplug_during_a_wait_ends_the_wait(emu):
    meter, dev = opened(emu, korvane.Dmm, "DMM", "DM-0001")
    dev.mute()
    waiter, result = in_thread(meter.getVoltage)
    assert wait_until(lambda: dev.requests() == [R(korvane.ATT_VOLTAGE)])
    started = time.monotonic()
    dev.unplug()
    waiter.join(JOIN)
    assert result == [FAILED_READING]
    assert time.monotonic() - started < 0.5  # well inside the 1 s wait bound
    assert meter.isConnected() is False


@pytest.mark.parametrize("model, product", [
    (korvane.Vanta, "Vanta"), (korvane.Brondel, "Brondel HUB"), (korvane.Dmm, "DMM")])
def test_a_device_opens_in_one_connection_at_a_time(emu, capfd, model, product):
    dev = emu.add(product, serial="S-1")
    first, second = model(), model()
    assert first.open() is False
    capfd.readouterr()
    dev.clear_log()
    assert second.open() is True
    assert second.openPath(dev.path) is True
    assert capfd.readouterr().err == OPEN_FAILED * 2
    assert dev.requests() == []  # the refused one sent nothing
    assert second.isConnected() is False
    assert first.close() is False
    assert second.open() is False
    assert dev.requests()[:5] == IDENTITY_READS
    assert first.open() is True


def test_raw_links_still_share_a_device(emu):
    dev = emu.add("Vanta", serial="VT-0001")
    board, link = korvane.Vanta(), korvane.KorDevice()
    assert board.open() is False
    assert link.open(dev.path) is False
    link.close()


def test_an_assigned_block_talks_through_its_source_until_that_is_gone(emu):
    # A chain of copies: the board's block, then the other board's, talk
    # through the hub's connection; once the hub is gone they fail as on a
    # closed device instead of reaching freed memory.
    board, _ = opened(emu, korvane.Vanta, "Vanta", "VT-0001")
    hub, hub_dev = opened(emu, korvane.Brondel, "Brondel HUB", "BH-0001")
    other, spare = korvane.Vanta(), korvane.Vanta()
    hub_dev.set_gpio_external(0x10, 0x10)
    board.gpiohw = hub.gpiohw
    other.gpiohw = board.gpiohw
    board.gpiohw = spare.gpiohw
    assert other.gpiohw.read() & 0x10 == 0x10
    assert hub_dev.requests()[-1] == R(korvane.ATT_GPIO0_BASE + 3)
    hub_dev.clear_log()
    del hub
    gc.collect()
    assert other.gpiohw.read() == 0xFFFFFFFF
    assert other.gpiohw.digitalRead(3) is True
    assert hub_dev.requests() == []
