"""Performance of the module against emulated devices that answer at once.

Run through scripts/bench.sh, which builds the module and preloads the
emulated HID library. Prints a Markdown table: the figures of this machine
and, where there is one, their ratio to the goal.

The ceiling: the receive thread polls once per millisecond, and a full-speed
USB HID link moves one report each way per 1 ms frame, so about 1,000
transactions per second is the most a caller can get.
"""
import argparse
import os
import platform
import statistics
import sys
import time

import _korvane as K
import korvane
import pykorvane_bench
import threads_bench
from threads_bench import FACES
from timing import CEILING_TPS, ns_per_call, percentile, timed_loop
from korvane_emu import Emulator

THROUGHPUT_GOAL = 0.90          # of the ceiling
IDLE_COUNTS = (1, 8, 32, 100)
THREAD_COUNTS = (1, 2, 4, 8)
UNPLUGGED_GOAL_S = 0.005


def cpu_seconds():
    """CPU time of the whole process, all threads (precise, not tick-sampled)."""
    return time.process_time()


def machine():
    model = "unknown"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return (f"{os.cpu_count()} CPUs ({model}), {platform.system()} {platform.release()}, "
            f"Python {platform.python_version()}")


def bench_voltage_loop(seconds):
    meter = korvane.Dmm()
    assert meter.open() is False, "the emulated DMM did not open"
    rate, latencies, value = timed_loop(meter.getVoltage, seconds)
    assert value != -999.9 and abs(value - 5.0) < 1e-3, f"unexpected reading {value}"
    meter.close()
    return rate, latencies


def bench_open(product, model_class, repeats):
    times = []
    for _ in range(repeats):
        model = model_class()
        t0 = time.perf_counter()
        failed = model.open()
        times.append(time.perf_counter() - t0)
        assert failed is False, f"{product} did not open"
        model.close()
        del model
    return statistics.median(times)


def bench_show_reg(repeats):
    meter = korvane.Dmm()
    assert meter.open() is False
    meter.showReg()
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        text = meter.showReg()
        times.append(time.perf_counter() - t0)
    assert text, "showReg gave nothing"
    meter.close()
    return statistics.median(times)


def bench_idle(serials, seconds, face="module"):
    # One device per connection: every link open on one device would see the
    # other links' reports too, as with hidraw.
    meters = threads_bench.opened_meters(serials, face)
    time.sleep(0.2)  # let the threads settle
    cpu0, wall0 = cpu_seconds(), time.perf_counter()
    time.sleep(seconds)
    cpu = cpu_seconds() - cpu0
    wall = time.perf_counter() - wall0
    for meter in meters:
        meter.close()
    del meters
    return 100.0 * cpu / wall


def bench_call_overhead(number):
    value = K.new_Attvalue()
    proxy = korvane.Attvalue()

    def plain(a, b):
        return a

    env = {"K": K, "value": value, "proxy": proxy, "plain": plain}

    def ns(statement):
        return ns_per_call(statement, env, number)

    return [
        ("plain Python function call `plain(value, 7)`", ns("plain(value, 7)")),
        ("flat `Attvalue_setValue(value, 7)`", ns("K.Attvalue_setValue(value, 7)")),
        ("flat `Attvalue_getValueUint32(value)`", ns("K.Attvalue_getValueUint32(value)")),
        ("proxy `value.setValue(7)`", ns("proxy.setValue(7)")),
        ("proxy `value.getValueUint32()`", ns("proxy.getValueUint32()")),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=5.0,
                        help="length of the getVoltage loop (default 5)")
    parser.add_argument("--idle-seconds", type=float, default=3.0,
                        help="length of each idle measurement (default 3)")
    parser.add_argument("--thread-seconds", type=float, default=3.0,
                        help="length of each measurement with several threads (default 3)")
    args = parser.parse_args()

    emu = Emulator()
    emu.reset()
    for product, serial in (("Vanta", "VT-B1"), ("Brondel HUB", "BH-B1"), ("DMM", "DM-B1")):
        emu.add(product, serial=serial)
    idle_serials = [f"DM-I{i:02d}" for i in range(IDLE_COUNTS[-1])]
    idle_devices = [emu.add("DMM", serial=serial) for serial in idle_serials]

    rows = []
    tps, latencies = bench_voltage_loop(args.seconds)
    ratio = tps / CEILING_TPS
    rows.append(("`Dmm.getVoltage` tight loop", f"{tps:.0f} transactions/s",
                 f"{ratio:.0%} of 1,000/s (goal {THROUGHPUT_GOAL:.0%})"))
    rows.append(("  latency p50 / p99",
                 f"{percentile(latencies, 50) * 1e3:.3f} ms / {percentile(latencies, 99) * 1e3:.3f} ms",
                 f"ceiling 1.000 ms per transaction"))
    for product, cls in (("Vanta", korvane.Vanta), ("Brondel HUB", korvane.Brondel),
                         ("DMM", korvane.Dmm)):
        seconds = bench_open(product, cls, 15)
        rows.append((f"open `{cls.__name__}` (enumeration + 5 identity reads)",
                     f"{seconds * 1e3:.2f} ms", f"ceiling about 5 ms (5 transactions)"))
    show = bench_show_reg(10)
    rows.append(("`Dmm.showReg` (36 transactions)", f"{show * 1e3:.1f} ms",
                 f"{36 / show:.0f} transactions/s, {36 / show / CEILING_TPS:.0%} of the ceiling"))
    baseline = bench_idle([], args.idle_seconds)
    rows.append(("idle process, no connection", f"{baseline:.2f} % of a core", ""))
    for face in FACES:
        for count in IDLE_COUNTS:
            percent = bench_idle(idle_serials[:count], args.idle_seconds, face)
            each = (percent - baseline) / count
            rows.append((f"{face}: {count} idle open connection{'s' if count > 1 else ''}",
                         f"{percent:.2f} % of a core", f"{each:.3f} % per connection"))
    for face in FACES:
        for count in THREAD_COUNTS:
            total = threads_bench.parallel_meters(idle_serials[:count], args.thread_seconds, face)
            ceiling = f"{total / (count * CEILING_TPS):.0%} of {count:,} x 1,000/s"
            rows.append((f"{face}: {count} meter{'s' if count > 1 else ''}, one Python thread each",
                         f"{total:.0f} transactions/s in all", ceiling if face == "module" else ""))
    # Meters that take a millisecond to answer, as a device on USB does: the
    # threads' waits overlap. (On answers that come at once the interpreter
    # lock is the limit, and more threads only add switching.)
    for device in idle_devices[:THREAD_COUNTS[-1]]:
        device.answer_delay(1)
    for count in THREAD_COUNTS:
        total = threads_bench.parallel_meters(idle_serials[:count], args.thread_seconds, "pykorvane")
        rows.append((f"pykorvane: {count} meter{'s' if count > 1 else ''} answering in 1 ms, "
                     "one thread each", f"{total:.0f} transactions/s in all", ""))
    for device in idle_devices[:THREAD_COUNTS[-1]]:
        device.answer_delay(0)
    alone, beside = threads_bench.beside_a_muted_meter(
        idle_devices[1], idle_serials[0], idle_serials[1], args.thread_seconds)
    rows.append(("one thread's loop while another waits on a muted meter", f"{beside:.0f} transactions/s",
                 f"{beside / alone:.0%} of its {alone:.0f}/s alone (goal {THROUGHPUT_GOAL:.0%})"))
    failing = threads_bench.failure_when_unplugged(idle_devices[2], idle_serials[2], 20)
    rows.append(("a reading on an unplugged meter fails after", f"{failing * 1e3:.3f} ms",
                 f"goal < {UNPLUGGED_GOAL_S * 1e3:.0f} ms"))
    for label, nanoseconds in bench_call_overhead(200000):
        rows.append((label, f"{nanoseconds:.0f} ns per call", ""))
    rows += pykorvane_bench.rows(args.seconds, serial=idle_serials[3])

    print(f"Machine: {machine()}")
    print(f"Command: scripts/bench.sh {' '.join(sys.argv[1:])}".rstrip())
    print()
    print("| Measurement | This machine | Against the limit |")
    print("|---|---|---|")
    for what, figure, limit in rows:
        print(f"| {what} | {figure} | {limit} |")
    emu.reset()


if __name__ == "__main__":
    main()
