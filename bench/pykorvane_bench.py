"""Performance of the pykorvane package beside the proxy module korvane.

Two measurements the main benchmark (bench.py) can call, with the emulated
HID library preloaded as scripts/bench.sh does:

- ``bench_call_overhead(number)``: nanoseconds per call of calls that touch
  no device: pykorvane's ``is_open`` property, the binding's
  ``is_open()`` under it, and the proxy module's ``isConnected()``;
- ``bench_voltage_loop(seconds, serial)``: a tight ``Dmm.voltage`` loop,
  transactions per second and the latency of each reading.

``rows()`` gives both as rows of bench.py's table. Run alone, it adds one
emulated meter and prints that table::

    LD_PRELOAD=build/emulator/libkorvane_emu.so \\
    PYTHONPATH=build/korvane:build/pykorvane:emulator/python \\
        /usr/bin/python3 bench/pykorvane_bench.py
"""
import argparse
from typing import List, Optional, Tuple

import korvane
import pykorvane
from timing import ns_per_call, percentile, timed_loop


def bench_call_overhead(number: int = 200000) -> List[Tuple[str, float]]:
    """Nanoseconds per call (best of five runs of ``number`` calls) of calls
    that send nothing, on closed device objects (none is opened)."""
    board = pykorvane.Vanta()
    proxy = korvane.Vanta()
    env = {"board": board, "core": board._core, "proxy": proxy}

    def ns(statement: str) -> float:
        return ns_per_call(statement, env, number)

    return [
        ("pykorvane `board.is_open` (property over the binding)", ns("board.is_open")),
        ("pykorvane binding `_core.Board.is_open()`", ns("core.is_open()")),
        ("proxy `korvane.Vanta().isConnected()`", ns("proxy.isConnected()")),
    ]


def bench_voltage_loop(seconds: float = 5.0, serial: Optional[str] = None) -> Tuple[float, List[float]]:
    """Reads ``Dmm.voltage`` for ``seconds``: (transactions per second,
    latency of each reading in seconds). Opens the first meter, or the one
    with ``serial``."""
    with pykorvane.Dmm(serial=serial) as meter:
        rate, latencies, value = timed_loop(lambda: meter.voltage, seconds)
    assert abs(value - 5.0) < 1e-3, f"unexpected reading {value}"
    return rate, latencies


# pykorvane's connections wait on the device instead of polling it: no
# 1 ms ceiling, so their goals are absolute.
RATE_GOAL_TPS = 10000
LATENCY_GOAL_S = 0.0001


def rows(seconds: float = 5.0, number: int = 200000,
         serial: Optional[str] = None) -> List[Tuple[str, str, str]]:
    """Both measurements as (measurement, figure, against the goal) rows."""
    tps, latencies = bench_voltage_loop(seconds, serial)
    table = [
        ("pykorvane `Dmm.voltage` tight loop", f"{tps:.0f} transactions/s",
         f"goal >= {RATE_GOAL_TPS:,}/s"),
        ("  latency p50 / p99",
         f"{percentile(latencies, 50) * 1e3:.3f} ms / {percentile(latencies, 99) * 1e3:.3f} ms",
         f"goal p50 < {LATENCY_GOAL_S * 1e3:.1f} ms"),
    ]
    for label, nanoseconds in bench_call_overhead(number):
        table.append((label, f"{nanoseconds:.0f} ns per call", ""))
    return table


def main() -> None:
    from korvane_emu import Emulator

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=5.0, help="length of the voltage loop (default 5)")
    args = parser.parse_args()
    emu = Emulator()
    emu.reset()
    emu.add("DMM", serial="DM-PB1")
    print("| Measurement | This machine | Against the limit |")
    print("|---|---|---|")
    for what, figure, limit in rows(args.seconds, serial="DM-PB1"):
        print(f"| {what} | {figure} | {limit} |")
    emu.reset()


if __name__ == "__main__":
    main()
