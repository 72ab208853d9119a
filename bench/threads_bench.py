"""Benchmarks of calls from several Python threads: device waits run without
the interpreter lock, so threads on different meters add up, a thread waiting
on a silent meter holds up no one, and a gone device fails at once."""
import statistics
import threading
import time

import korvane
import pykorvane

FAILED_READING = -999.9000244140625


def _module_meter(serial):
    meter = korvane.Dmm()
    assert meter.open(serial) is False, f"meter {serial} did not open"
    return meter


def _module_reading(meter):
    assert meter.getVoltage() != FAILED_READING


def _pykorvane_reading(meter):
    meter.voltage  # raises on failure


# Each face: how a meter is opened, read and closed.
FACES = {
    "module": (_module_meter, _module_reading),
    "pykorvane": (lambda serial: pykorvane.Dmm(serial=serial).open(), _pykorvane_reading),
}


def opened_meters(serials, face="module"):
    """Meters opened by serial through the face ("module" or "pykorvane")."""
    return [FACES[face][0](serial) for serial in serials]


def _opened_meters(serials):
    return opened_meters(serials)


def _reading_loop(meter, read, seconds, start, counts, index):
    start.wait()
    end = time.perf_counter() + seconds
    done = 0
    while time.perf_counter() < end:
        read(meter)
        done += 1
    counts[index] = done


def parallel_meters(serials, seconds, face="module"):
    """Transactions per second in all, one thread per meter."""
    meters = opened_meters(serials, face)
    read = FACES[face][1]
    start = threading.Barrier(len(meters) + 1)
    counts = [0] * len(meters)
    threads = [threading.Thread(target=_reading_loop, args=(m, read, seconds, start, counts, i))
               for i, m in enumerate(meters)]
    for thread in threads:
        thread.start()
    start.wait()
    t0 = time.perf_counter()
    for thread in threads:
        thread.join()
    elapsed = time.perf_counter() - t0
    for meter in meters:
        meter.close()
    return sum(counts) / elapsed


def beside_a_muted_meter(emu_device, serial_busy, serial_muted, seconds):
    """(rate alone, rate while another thread waits on a muted meter)."""
    alone = parallel_meters([serial_busy], seconds)
    busy, muted = _opened_meters([serial_busy, serial_muted])
    emu_device.mute()
    emu_device.clear_log()
    stop = threading.Event()

    def wait_on_muted():
        while not stop.is_set():
            muted.getVoltage()

    waiter = threading.Thread(target=wait_on_muted)
    waiter.start()
    try:
        # The waiter is inside its first wait once its request reached the meter.
        give_up = time.monotonic() + 10.0
        while not emu_device.requests():
            assert time.monotonic() < give_up, "the waiter's request never reached the muted meter"
            time.sleep(0.001)
        done, end = 0, time.perf_counter() + seconds
        t0 = time.perf_counter()
        while time.perf_counter() < end:
            busy.getVoltage()
            done += 1
        beside = done / (time.perf_counter() - t0)
    finally:
        stop.set()
        emu_device.mute(False)
        waiter.join()
    busy.close()
    muted.close()
    return alone, beside


def failure_when_unplugged(emu_device, serial, repeats):
    """Median time for a reading to fail on an unplugged meter, first call
    after the unplug included (the request cannot be written)."""
    times = []
    for _ in range(repeats):
        (meter,) = _opened_meters([serial])
        emu_device.unplug()
        t0 = time.perf_counter()
        value = meter.getVoltage()
        times.append(time.perf_counter() - t0)
        assert value == FAILED_READING
        emu_device.replug()
        meter.close()
    return statistics.median(times)
