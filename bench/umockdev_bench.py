"""pykorvane's reading rate through the real Linux HID path: the system's
hidraw hidapi over a hidraw node that umockdev emulates, answered by the
emulator's firmware library (tests/umockdev/hidbed.py), beside the
module's. Run under umockdev-wrapper, as scripts/bench.sh does; prints rows
of the table."""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "umockdev"))

import korvane  # noqa: E402
import pykorvane  # noqa: E402
from hidbed import HidBed  # noqa: E402
from timing import percentile, timed_loop  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=5.0)
    args = parser.parse_args()
    bed = HidBed()
    try:
        bed.plug("DMM", "DM-U1").firmware.set_reading(0x8101, 5.0)
        with pykorvane.Dmm(serial="DM-U1") as meter:
            rows = [("pykorvane `Dmm.voltage`", timed_loop(lambda: meter.voltage, args.seconds),
                     "goal >= 2,000/s")]
        module = korvane.Dmm()
        assert module.open("DM-U1") is False
        rows.append(("module `Dmm.getVoltage`", timed_loop(module.getVoltage, args.seconds), ""))
        module.close()
    finally:
        bed.close()
    for what, (rate, latencies, _), goal in rows:
        print(f"| {what} through hidraw (umockdev) | {rate:.0f} readings/s, "
              f"p50 {percentile(latencies, 50) * 1e3:.3f} ms | {goal} |")


if __name__ == "__main__":
    main()
