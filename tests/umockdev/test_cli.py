"""The command-line tool as users run it, a process of its own, on the
emulated nodes (umockdev's preload and testbed are inherited)."""
import os
import re
import subprocess
import sys

import pykorvane
import pytest


def run_cli(bed, *args):
    done = subprocess.run(
        [sys.executable, "-m", "pykorvane", *args],
        cwd=os.path.dirname(os.path.dirname(pykorvane.__file__)),
        env=dict(os.environ, UMOCKDEV_DIR=bed.root), capture_output=True, text=True, timeout=60)
    print(done.stderr)  # shown when the test fails
    return done.returncode, [re.split(r"\s{2,}|: ", line) for line in done.stdout.splitlines()]


@pytest.mark.parametrize("args,lines", [
    (["list"], lambda t: [["PRODUCT", "SERIAL", "PATH"]] + [
        [d.product, d.serial, d.path] for d in t.values()]),
    (["meter", "read"], lambda t: [["voltage", "1.500 V"], ["current", "250.0 mA"]]),
])
def test_cli(trio, bed, args, lines):
    trio["DMM"].firmware.set_reading(0x8101, 1.5)
    status, out = run_cli(bed, *args)
    expected = lines(trio)  # the first line in place, the others in any order
    assert (status, out[:1], sorted(out[1:])) == (0, expected[:1], sorted(expected[1:]))
