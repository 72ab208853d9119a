"""korvane meter: readings, calibration, registers and the CSV log of the DMM."""
from __future__ import annotations

import argparse
import contextlib
import csv
import json
import math
import sys
import time
from dataclasses import dataclass, field
from typing import IO, Any, Callable, Dict, Iterator, List, Optional

from pykorvane import DeviceGoneError, KorvaneError

from .common import (
    COUNT,
    CliError,
    Schedule,
    add_actions,
    add_json,
    as_json_keys,
    finish,
    json_reading,
    opened,
    print_json,
    reading,
    seconds,
    si,
    timestamp,
)
from .io import dump_lines

# The quantities a sample holds: attribute of pykorvane.Dmm, unit, CSV and JSON key.
QUANTITIES = (("voltage", "V"), ("current", "A"))


def key_of(quantity: str, unit: str) -> str:
    return f"{quantity}_{unit}"


def add_commands(commands: argparse._SubParsersAction) -> None:
    actions = add_actions(commands.add_parser(
        "meter", help="readings, calibration and log of the DMM",
        description="Read the DMM's voltage (V) and current (A), calibrate it, show its "
                    "offsets or registers, or log readings to CSV."))

    p = actions.add_parser("read", help="read voltage and current",
                           description="Read voltage (V) and current (A).")
    add_json(p)
    finish(p, cmd_meter_read, model="dmm")

    p = actions.add_parser("calibrate", help="run the meter's calibration",
                           description="Run the meter's calibration.")
    finish(p, cmd_meter_calibrate, model="dmm")

    for name, text, run in (
            ("offsets", "show the calibration offsets (in the meter's steps)", cmd_meter_offsets),
            ("regs", "dump the registers 0x00-0x11 of the meter's measuring chip", cmd_meter_regs),
            ("dieid", "show the die id of the meter's measuring chip", cmd_meter_dieid)):
        p = actions.add_parser(name, help=text, description=text[0].upper() + text[1:] + ".")
        add_json(p)
        finish(p, run, model="dmm")

    p = actions.add_parser(
        "log", help="log readings with timestamps to CSV",
        description="Log voltage and current to CSV (columns timestamp, elapsed_s, voltage_V, "
                    "current_A; ISO-8601 local time, taken when the sample's readings are done). "
                    "Sample n is due at n x interval from the start; a sample that fails is "
                    "counted, not written. Without --count or --duration it runs until Ctrl-C. "
                    "A summary (samples, failed, min/mean/max) ends the log, on standard output "
                    "(standard error when the CSV goes there). Durations are seconds, or carry "
                    "a unit: 500ms, 2s, 1m.")
    p.add_argument("output", nargs="?", default="-", metavar="FILE.csv",
                   help="CSV file to write (default, or -: standard output)")
    p.add_argument("-i", "--interval", type=seconds("the interval"), default=1.0,
                   help="time between samples (default 1 s)")
    stop = p.add_mutually_exclusive_group()
    stop.add_argument("-n", "--count", type=COUNT, help="number of samples")
    stop.add_argument("-t", "--duration", type=seconds("the duration"),
                      help="time to log: no sample starts at or after it, and a reading that "
                           "ends after it is the last")
    p.add_argument("--plot", metavar="FILE.png",
                   help="also draw the readings into a PNG file (needs matplotlib)")
    add_json(p)
    finish(p, cmd_meter_log, model="dmm")


def cmd_meter_read(args: argparse.Namespace) -> None:
    values = {}
    with opened(args) as dev:
        for quantity, unit in QUANTITIES:
            with dev.doing(f"reading the {quantity}"):
                values[quantity, unit] = reading(getattr(dev.device, quantity))
    if args.json:
        shown: Dict[str, Any] = {}
        for (quantity, unit), value in values.items():
            shown.update(json_reading(quantity, unit, value))
        print_json(shown)
    else:
        for (quantity, unit), value in values.items():
            print(f"{quantity}: {si(value, unit)}")


def cmd_meter_calibrate(args: argparse.Namespace) -> None:
    with opened(args) as dev, dev.doing("calibrating"):
        dev.device.calibrate()


def cmd_meter_offsets(args: argparse.Namespace) -> None:
    with opened(args) as dev, dev.doing("reading the calibration offsets"):
        offsets = dev.device.calibration_offsets._asdict()
    if args.json:
        print_json(dict(offsets))
    else:
        for name, value in offsets.items():
            print(f"{name}: {value}")


def cmd_meter_regs(args: argparse.Namespace) -> None:
    with opened(args) as dev, dev.doing("reading the registers"):
        registers = dev.device.registers()
    if args.json:
        print_json({"registers": as_json_keys(registers)})
    else:
        for line in dump_lines(min(registers), max(registers), dict(registers)):
            print(line)


def cmd_meter_dieid(args: argparse.Namespace) -> None:
    with opened(args) as dev, dev.doing("reading the die id"):
        die_id = dev.device.die_id
    if args.json:
        print_json({"die_id": die_id})
    else:
        print(f"0x{die_id:04x}")


# ---------------------------------------------------------------- log

@dataclass
class Sample:
    timestamp: str
    elapsed: float
    values: Dict[str, float]


@dataclass
class LogResult:
    """What a log run did: the samples written, the failed ones (with the
    first failure's reason), the slots missed because a sample overran."""

    samples: List[Sample] = field(default_factory=list)
    failed: int = 0
    missed: int = 0
    first_failure: str = ""
    #: The failure of an unplugged meter, which ends the log.
    gone: Optional[DeviceGoneError] = None
    #: The Ctrl-C or SIGTERM that ended the log, raised again after the summary.
    interrupted: Optional[KeyboardInterrupt] = None

    def fail(self, why: str) -> None:
        self.failed += 1
        self.first_failure = self.first_failure or why

    def statistics(self) -> Dict[str, Optional[Dict[str, Any]]]:
        """Per quantity min, mean and max of the finite readings (None when
        there is none) and the count of the others ("invalid": NaN or
        infinite readings); None for a log without samples."""
        stats: Dict[str, Optional[Dict[str, Any]]] = {}
        for quantity, unit in QUANTITIES:
            values = [s.values[quantity] for s in self.samples]
            finite = [v for v in values if math.isfinite(v)]
            stats[key_of(quantity, unit)] = None if not values else {
                "min": min(finite, default=None),
                "mean": reading(math.fsum(finite) / len(finite)) if finite else None,
                "max": max(finite, default=None),
                "invalid": len(values) - len(finite)}
        return stats


def take_sample(meter: Any, result: LogResult, start: float, deadline: Optional[float],
                clock: Callable[[], float]) -> Optional[Sample]:
    """One sample, or None when it failed (counted in result). A reading
    after one that failed or that ended past the deadline is not started.
    The sample carries the time its readings were done, however long they
    waited."""
    values: Dict[str, float] = {}
    for quantity, unit in QUANTITIES:
        if values and deadline is not None and clock() >= deadline:
            result.fail("the duration ended within the sample")
            return None
        try:
            values[quantity] = reading(getattr(meter, quantity))
        except DeviceGoneError as error:
            result.fail(f"{quantity}: {error.reason}")
            result.gone = error
            return None
        except KorvaneError as error:
            result.fail(f"{quantity}: {error.reason}")
            return None
    return Sample(timestamp(), clock() - start, values)


def log_samples(meter: Any, write: Callable[[Sample], None], args: argparse.Namespace,
                result: LogResult, too_slow: Callable[[float], None],
                clock: Callable[[], float] = time.monotonic) -> None:
    """Samples the meter on its schedule into write() until the count, the
    duration, Ctrl-C or SIGTERM (result.interrupted) or an unplugged meter.

    When the first sample written took longer than the interval, the meter
    cannot keep the pace asked for: too_slow(seconds a sample takes) is
    called, and the samples follow each other as fast as the meter answers
    instead of missing nearly every slot."""
    start = clock()
    deadline = None if args.duration is None else start + args.duration
    plan = Schedule(args.interval, args.count, args.duration, start=start, clock=clock)
    try:
        for _, _, missed in plan:
            result.missed = missed
            began = clock()
            sample = take_sample(meter, result, start, deadline, clock)
            if sample is not None:
                result.samples.append(sample)
                write(sample)
                took = clock() - began
                if len(result.samples) == 1 and took > args.interval:
                    too_slow(took)
                    plan.free_running()
            if result.gone is not None or (deadline is not None and clock() >= deadline):
                break
    except KeyboardInterrupt as stop:
        result.interrupted = stop


def csv_row(sample: Sample) -> List[str]:
    return [sample.timestamp, f"{sample.elapsed:.3f}"] + [repr(sample.values[q]) for q, _ in QUANTITIES]


def print_summary(name: str, result: LogResult, as_json: bool, stream: IO[str]) -> None:
    stats = result.statistics()
    if as_json:
        summary: Dict[str, Any] = {"device": name, "samples": len(result.samples),
                                   "failed": result.failed, "missed": result.missed}
        summary.update(stats)
        print(json.dumps(summary, indent=2, allow_nan=False), file=stream, flush=True)
        return
    print(f"{name}: {len(result.samples)} samples, {result.failed} failed, "
          f"{result.missed} missed", file=stream)
    for quantity, unit in QUANTITIES:
        got = stats[key_of(quantity, unit)]
        if got is None:
            print(f"{quantity}: -", file=stream)
            continue
        if got["min"] is None:
            line = f"{quantity}: no finite reading"
        else:
            line = (f"{quantity}: min {si(got['min'], unit)}, mean {si(got['mean'], unit)}, "
                    f"max {si(got['max'], unit)}")
        if got["invalid"]:
            line += f" ({got['invalid']} not finite, left out)"
        print(line, file=stream)
    stream.flush()


def load_pyplot() -> Any:
    """matplotlib's pyplot on the file-only Agg backend, or a CliError."""
    try:
        import matplotlib  # type: ignore[import]
        matplotlib.use("Agg")
        import matplotlib.pyplot as pyplot  # type: ignore[import]
    except ImportError as error:
        raise CliError(f"--plot needs matplotlib ({error}); on Debian: apt install python3-matplotlib")
    return pyplot


def write_plot(pyplot: Any, path: str, samples: List[Sample], title: str) -> None:
    elapsed = [s.elapsed for s in samples]
    figure, axes = pyplot.subplots(len(QUANTITIES), 1, sharex=True, figsize=(8, 5))
    try:
        for ax, (quantity, unit), colour in zip(axes, QUANTITIES, ("tab:blue", "tab:orange")):
            ax.plot(elapsed, [s.values[quantity] for s in samples], marker=".", color=colour)
            ax.set_ylabel(f"{quantity} ({unit})")
            ax.grid(True, alpha=0.3)
        axes[-1].set_xlabel("elapsed (s)")
        figure.suptitle(title)
        figure.tight_layout()
        figure.savefig(path, dpi=100)
    finally:
        pyplot.close(figure)


class Progress:
    """One self-overwriting status line on a terminal; silent elsewhere."""

    def __init__(self, stream: IO[str], enabled: bool, expected: Optional[int]) -> None:
        self.stream = stream
        self.enabled = enabled
        self.expected = expected
        self.width = 0

    def update(self, sample: Sample, result: LogResult) -> None:
        if not self.enabled:
            return
        total = f"/{self.expected}" if self.expected else ""
        readings = "  ".join(f"{q} {si(sample.values[q], u)}" for q, u in QUANTITIES)
        text = (f"sample {len(result.samples)}{total}  {sample.elapsed:.1f} s  {readings}"
                + (f"  ({result.failed} failed)" if result.failed else ""))
        self.stream.write("\r" + text.ljust(self.width))
        self.stream.flush()
        self.width = len(text)

    def finish(self) -> None:
        if self.enabled and self.width:
            self.stream.write("\n")
            self.stream.flush()
            self.width = 0


@contextlib.contextmanager
def _output(path: str) -> Iterator[IO[str]]:
    if path == "-":
        yield sys.stdout
        return
    try:
        stream = open(path, "w", newline="", encoding="utf-8")
    except OSError as error:
        raise CliError(f"cannot write {path}: {error.strerror}")
    with stream:
        yield stream


def cmd_meter_log(args: argparse.Namespace) -> None:
    # Checked before logging, not after an hour of it.
    pyplot = load_pyplot() if args.plot else None
    result = LogResult()
    with opened(args) as dev, _output(args.output) as stream:
        name = dev.name
        to_stdout = stream is sys.stdout
        writer = csv.writer(stream, lineterminator="\n")
        writer.writerow(["timestamp", "elapsed_s"] + [key_of(*q) for q in QUANTITIES])
        stream.flush()
        expected = args.count or (math.ceil(args.duration / args.interval) if args.duration else None)
        progress = Progress(sys.stderr, sys.stderr.isatty() and not (to_stdout and sys.stdout.isatty()),
                            expected)

        def write(sample: Sample) -> None:
            writer.writerow(csv_row(sample))
            stream.flush()
            progress.update(sample, result)

        def too_slow(took: float) -> None:
            progress.finish()
            print(f"korvane: note: {name} takes {si(took, 's')} a sample (two readings), longer "
                  f"than the interval of {si(args.interval, 's')}; sampling as fast as it "
                  "answers instead", file=sys.stderr, flush=True)

        try:
            log_samples(dev.device, write, args, result, too_slow)
        finally:
            progress.finish()
    print_summary(name, result, args.json, sys.stderr if to_stdout else sys.stdout)
    if pyplot is not None and result.samples:
        write_plot(pyplot, args.plot, result.samples, f"{name} from {result.samples[0].timestamp}")
    if result.interrupted is not None:
        raise result.interrupted
    if result.gone is not None:
        raise CliError(f"{name}: {result.gone.reason}; the log stopped after "
                       f"{len(result.samples)} samples")
    if result.failed:
        attempts = len(result.samples) + result.failed
        raise CliError(f"{name}: {result.failed} of {attempts} samples failed "
                       f"(first: {result.first_failure})")

