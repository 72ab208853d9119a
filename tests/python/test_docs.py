"""The examples of README.md and docs/*.md run as written, from the
repository root, so a doc that drifts fails the test command: the Python
blocks as scripts on emulated devices, and the shell commands that run a
build (the lines that start with build/, PYTHONPATH=build or LD_PRELOAD=build),
with a `korvane` on PATH that stands in for the installed tool. Other shell
lines need root, an install, real hardware or a file of the
reader's (my_script.py), and are not run."""
import os
import re
import shlex
import subprocess
import sys

import pytest

from device_helpers import BUILD_DIR, SOURCE_DIR, preload

DOCS = [SOURCE_DIR / "README.md", *sorted((SOURCE_DIR / "docs").glob("*.md"))]
BLOCK = re.compile(r"^```(python|sh)\n(.*?)^```", re.S | re.M)
RUNNABLE = ("build/", "PYTHONPATH=build", "LD_PRELOAD=build")
READERS_FILES = ("my_script.py", "my_test.py")
# Python blocks that continue the block before them in the text.
FRAGMENTS = ("    led = korvane.Pin(", "if board.gpiohw.digitalWrite(")
# Emulated devices for the Python blocks: the launcher's three, and a second
# board the opening examples choose by serial number.
DEVICES = ["Vanta:VT-0001", "Vanta:VT-0002", "Brondel HUB:BH-0001", "DMM:DM-0001"]


def commands(script):
    """The shell commands of a block: continued lines and quoted newlines joined."""
    pending = ""
    for line in script.splitlines():
        pending = f"{pending}\n{line}" if pending else line
        if pending.endswith("\\"):
            continue
        try:
            shlex.split(pending, comments=True)
        except ValueError:  # a quote still open
            continue
        yield pending
        pending = ""


def examples():
    for doc in DOCS:
        text = doc.read_text()
        for block in BLOCK.finditer(text):
            line = text[:block.start()].count("\n") + 1
            kind, body = block.groups()
            if kind == "python" and not body.startswith(FRAGMENTS):
                yield pytest.param("python", body, id=f"{doc.name}:{line}")
            for command in commands(body) if kind == "sh" else ():
                if command.startswith(RUNNABLE) and not any(f in command for f in READERS_FILES):
                    yield pytest.param("sh", command, id=f"{doc.name}:{line}:{command.split()[0]}")


@pytest.mark.parametrize("kind, example", examples())
def test_example_runs_as_written(tmp_path, kind, example):
    if not (BUILD_DIR / "emulator" / "korvane-emu").exists() or BUILD_DIR != SOURCE_DIR / "build":
        pytest.skip("the docs name the build in build/ of the source tree")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("KORVANE_EMU", "PYTHON"))}
    env["LD_PRELOAD"] = preload()
    tool = tmp_path / "korvane"
    tool.write_text(f'#!/bin/sh\nPYTHONPATH={BUILD_DIR}/pykorvane exec {sys.executable} -P -m pykorvane "$@"\n')
    tool.chmod(0o755)
    env["PATH"] = f"{tmp_path}:{env['PATH']}"
    if kind == "python":
        env["PYTHONPATH"] = "build/korvane:build/pykorvane:emulator/python"
        launcher = ["build/emulator/korvane-emu"] + [f"--device={d}" for d in DEVICES]
        argv = launcher + ["--", sys.executable, "-P", "-c", "import korvane, pykorvane\n" + example]
    else:
        argv = ["bash", "-c", example]
    done = subprocess.run(argv, cwd=SOURCE_DIR, env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, f"{example}\nexit {done.returncode}\n{done.stdout}{done.stderr}"
