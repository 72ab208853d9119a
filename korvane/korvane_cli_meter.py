"""korvane meter: readings, calibration, registers and the CSV log of the DMM."""

import collections
import contextlib
import csv
import datetime
import math
import struct
import sys
import time

from korvane_cli_common import (
    CliError,
    add_command,
    finish_action,
    int_in,
    open_chosen,
    positive_float,
    print_json,
)

# Meter readings fail as -999.9 in single precision, widened to a Python float.
METER_FAILED = struct.unpack("<f", struct.pack("<f", -999.9))[0]

# After this many samples in a row without a single reading the meter is
# taken as gone and the log stops.
LOG_MAX_SILENT_SAMPLES = 3


def add_commands(commands):
    actions = add_command(
        commands, "meter", help="readings, calibration and log of the DMM",
        description="Read the DMM's voltage and current, calibrate it, show its "
                    "offsets or registers, or log readings to CSV. Readings are "
                    "printed as the meter reports them (unscaled).")

    p = actions.add_parser("read", help="read voltage and current", description="Read voltage and current.")
    p.add_argument("--json", action="store_true", help="print a JSON object")
    finish_action(p, cmd_meter_read)

    for name, text, run in (
            ("calibrate", "run the meter's calibration", cmd_meter_calibrate),
            ("offsets", "show the calibration offsets", cmd_meter_offsets),
            ("regs", "dump the registers 0x00-0x11 of the meter's I2C target", cmd_meter_regs),
            ("dieid", "show the die id of the meter's I2C target", cmd_meter_dieid)):
        p = actions.add_parser(name, help=text, description=text[0].upper() + text[1:] + ".")
        finish_action(p, run)

    p = actions.add_parser(
        "log", help="log readings with timestamps to CSV",
        description="Log voltage and current to CSV (columns timestamp, elapsed_s, "
                    "voltage, current; ISO-8601 local time). Without --count or "
                    "--duration it runs until Ctrl-C. A reading that fails leaves "
                    "its cell empty and makes the exit status 1.")
    p.add_argument("output", nargs="?", default="-", metavar="FILE.csv",
                   help="CSV file to write (default: standard output)")
    p.add_argument("-i", "--interval", type=positive_float("the interval"), default=1.0,
                   help="seconds between samples (default 1)")
    stop = p.add_mutually_exclusive_group()
    stop.add_argument("-n", "--count", type=int_in(1, 2**31 - 1, "the count"),
                      help="number of samples")
    stop.add_argument("-t", "--duration", type=positive_float("the duration"),
                      help="seconds to log (samples start at 0, interval, 2*interval, ... below it)")
    p.add_argument("--plot", metavar="FILE.png",
                   help="also draw the readings into a PNG file (needs matplotlib)")
    finish_action(p, cmd_meter_log)


def _meter(kv, args):
    return open_chosen(kv, args, "dmm")


def _reading(value):
    return None if value == METER_FAILED else value


def format_reading(value):
    """Single precision carries about 7 significant digits; no more are shown."""
    return "" if value is None else f"{value:.7g}"


def cmd_meter_read(kv, args):
    with _meter(kv, args) as dev:
        voltage = _reading(dev.device.getVoltage())
        if voltage is None:
            raise dev.fail("reading the voltage")
        current = _reading(dev.device.getCurrent())
        if current is None:
            raise dev.fail("reading the current")
    if args.json:
        print_json({"voltage": voltage, "current": current})
    else:
        print(f"voltage: {format_reading(voltage)}")
        print(f"current: {format_reading(current)}")


def cmd_meter_calibrate(kv, args):
    with _meter(kv, args) as dev:
        if dev.device.calibration():
            raise dev.fail("calibration")


def cmd_meter_offsets(kv, args):
    with _meter(kv, args) as dev:
        text = dev.device.getCalibrationData()
        if not text:
            raise dev.fail("reading the calibration offsets")
    print(text, end="")


def cmd_meter_regs(kv, args):
    with _meter(kv, args) as dev:
        # A register that cannot be read shows 0, so a silent meter would
        # give a dump of zeros after 18 waits: check it answers first.
        if not dev.answers():
            raise CliError(f"{dev.name}: the device does not answer")
        text = dev.device.showReg()
    print(text, end="")


def cmd_meter_dieid(kv, args):
    with _meter(kv, args) as dev:
        die_id = dev.device.getDieID()
        if die_id == 0:
            raise dev.fail("reading the die id")
    print(f"0x{die_id:04x}")


Sample = collections.namedtuple("Sample", "timestamp elapsed voltage current")


def load_pyplot():
    """matplotlib's pyplot on the file-only Agg backend, or a CliError."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as pyplot
    except ImportError as error:
        raise CliError(f"--plot needs matplotlib ({error}); on Debian: apt install python3-matplotlib")
    return pyplot


def write_plot(pyplot, path, samples, title):
    def series(name):
        # Failed readings become gaps in the line.
        return [math.nan if getattr(s, name) is None else getattr(s, name) for s in samples]

    elapsed = [s.elapsed for s in samples]
    figure, (top, bottom) = pyplot.subplots(2, 1, sharex=True, figsize=(8, 5))
    try:
        top.plot(elapsed, series("voltage"), marker=".")
        top.set_ylabel("voltage")
        bottom.plot(elapsed, series("current"), marker=".", color="tab:orange")
        bottom.set_ylabel("current")
        bottom.set_xlabel("elapsed (s)")
        for axes in (top, bottom):
            axes.grid(True, alpha=0.3)
        figure.suptitle(title)
        figure.tight_layout()
        figure.savefig(path, dpi=100)
    finally:
        pyplot.close(figure)


class Progress:
    """One self-overwriting status line on a terminal; silent elsewhere."""

    def __init__(self, stream, enabled, count):
        self.stream = stream
        self.enabled = enabled
        self.count = count
        self.width = 0

    def update(self, sample, number):
        if not self.enabled:
            return
        total = f"/{self.count}" if self.count else ""
        text = (f"sample {number}{total}  {sample.elapsed:.1f} s  "
                f"voltage {format_reading(sample.voltage) or '-'}  "
                f"current {format_reading(sample.current) or '-'}")
        self.stream.write("\r" + text.ljust(self.width))
        self.stream.flush()
        self.width = len(text)

    def finish(self):
        if self.enabled and self.width:
            self.stream.write("\n")
            self.stream.flush()


def _sample_offsets(interval, count, duration):
    k = 0
    while (count is None or k < count) and (duration is None or k * interval < duration):
        yield k * interval
        k += 1


def log_samples(meter, writer, progress, interval, count, duration, on_sample=None):
    """Samples the meter into writer; returns the samples. Stops early on
    Ctrl-C (the samples so far are kept) or when the meter goes silent."""
    samples = []
    silent = 0
    start = time.monotonic()
    try:
        for offset in _sample_offsets(interval, count, duration):
            delay = start + offset - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            timestamp = datetime.datetime.now().astimezone().isoformat(timespec="milliseconds")
            elapsed = time.monotonic() - start
            sample = Sample(timestamp, elapsed,
                            _reading(meter.getVoltage()), _reading(meter.getCurrent()))
            samples.append(sample)
            writer.writerow([sample.timestamp, f"{sample.elapsed:.3f}",
                             format_reading(sample.voltage), format_reading(sample.current)])
            progress.update(sample, len(samples))
            if on_sample:
                on_sample()
            silent = silent + 1 if sample.voltage is None and sample.current is None else 0
            if silent >= LOG_MAX_SILENT_SAMPLES:
                break
    except KeyboardInterrupt:
        pass
    finally:
        progress.finish()
    return samples, silent >= LOG_MAX_SILENT_SAMPLES


@contextlib.contextmanager
def _output(path):
    if path == "-":
        yield sys.stdout
        return
    try:
        stream = open(path, "w", newline="", encoding="utf-8")
    except OSError as error:
        raise CliError(f"cannot write {path}: {error.strerror}")
    with stream:
        yield stream


def cmd_meter_log(kv, args):
    # Checked before logging, not after an hour of it.
    pyplot = load_pyplot() if args.plot else None
    with _meter(kv, args) as dev, _output(args.output) as stream:
        writer = csv.writer(stream, lineterminator="\n")
        writer.writerow(["timestamp", "elapsed_s", "voltage", "current"])
        to_terminal = stream is sys.stdout and sys.stdout.isatty()
        expected = args.count or (math.ceil(args.duration / args.interval) if args.duration else None)
        progress = Progress(sys.stderr, sys.stderr.isatty() and not to_terminal, expected)
        samples, went_silent = log_samples(dev.device, writer, progress, args.interval,
                                           args.count, args.duration, on_sample=stream.flush)
        name = dev.name
    if went_silent:
        raise CliError(f"{name} stopped answering; logged {len(samples)} samples")
    if pyplot is not None and samples:
        write_plot(pyplot, args.plot, samples, f"{name} from {samples[0].timestamp}")
    failed = sum((s.voltage is None) + (s.current is None) for s in samples)
    if failed:
        raise CliError(f"{name}: {failed} of {2 * len(samples)} readings failed (left empty)")
