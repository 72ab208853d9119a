"""Benchmarks of calls from several Python threads: device waits run without
the interpreter lock, so threads on different meters add up, a thread waiting
on a silent meter holds up no one, and a gone device fails at once."""
import statistics
import threading
import time

import korvane

FAILED_READING = -999.9000244140625


def _opened_meters(serials):
    meters = []
    for serial in serials:
        meter = korvane.Dmm()
        assert meter.open(serial) is False, f"meter {serial} did not open"
        meters.append(meter)
    return meters


def _reading_loop(meter, seconds, start, counts, index):
    start.wait()
    end = time.perf_counter() + seconds
    done = 0
    while time.perf_counter() < end:
        assert meter.getVoltage() != FAILED_READING
        done += 1
    counts[index] = done


def parallel_meters(serials, seconds):
    """Transactions per second in all, one thread per meter."""
    meters = _opened_meters(serials)
    start = threading.Barrier(len(meters) + 1)
    counts = [0] * len(meters)
    threads = [threading.Thread(target=_reading_loop, args=(m, seconds, start, counts, i))
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
