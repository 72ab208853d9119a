"""The examples of README.md and docs/*.md run as written, from the
repository root, so a doc that drifts fails the test command.

Python blocks run as scripts under the launcher, on its emulated devices
(Vanta VT-0001, Brondel HUB BH-0001, DMM DM-0001), with the build's modules
on the path. Shell blocks run one command at a time with bash, in the
reader's environment (no emulated library preloaded); `korvane` on PATH
stands in for the installed tool: the built CLI on the bench the docs show
(cli.md's listing and the second board the examples choose by serial),
whose devices keep their state from one command of an example to the next.
Commands that cannot run here are skipped by the rules in SKIPPED; a block
that sets a shell variable for its later lines runs as one script."""
import os
import re
import shlex
import signal
import subprocess
import sys
import textwrap

import pytest

from device_helpers import BUILD_DIR, SOURCE_DIR, preload

DOCS = [SOURCE_DIR / "README.md", *sorted((SOURCE_DIR / "docs").glob("*.md"))]
BLOCK = re.compile(r"^( *)```(python|sh)\n(.*?)^\1```", re.S | re.M)  # also indented in a list
LAUNCHER = "build/emulator/korvane-emu"
BENCH = ["Vanta:VT-0001:/dev/hidraw3", "Brondel HUB:BH-0001:/dev/hidraw4", "DMM:DM-0001:/dev/hidraw5",
         "DMM:DM-0001:/dev/hidraw6", "Vanta:VT-0002:/dev/hidraw7"]
TIMEOUT_S = 120

# Shell commands that do not run here, matched without their comment:
SKIPPED = [
    (r"^(sudo|apt-get|apt) ", "needs root and the network"),
    (r"venv|korvane-env|\bpip ", "installs into a virtual environment (test_install.py does that)"),
    (r"^(ls|lsusb|udevadm|usbip|ssh) ", "looks at real devices or another host"),
    (r"^scripts/", "bootstraps, builds or tests the whole tree, which runs this test"),
    (r"^cmake |build-example/", "a build or install of its own (check-installed-library.sh does it)"),
    (r"\bmy_\w+\.(py|cpp)\b", "runs a script or builds a program of the reader's"),
    (r"--duration", "logs for a minute or more, into files in the working tree"),
    (r"[|\[]|(?<![\w$])(FILE|PIN|SERIAL|PATH)\b(?!=)|\S {3,}korvane ",
     "a synopsis: placeholders, or commands side by side"),
]
SHIM = """#!/bin/sh
# The built korvane command: on the docs' bench, unless the example started a launcher of its own.
set -- env PYTHONPATH={build}/pykorvane {python} -P -m pykorvane "$@"
[ -n "${{KORVANE_EMU_DEVICES+set}}" ] && exec "$@"
exec {build}/emulator/korvane-emu --state {state} {devices} -- "$@"
"""


def commands(body, first_line):
    """(line, command) for each shell command of a block: continued lines
    and newlines inside quotes joined."""
    pending, start = "", first_line
    for number, line in enumerate(body.splitlines(), first_line):
        if not pending:
            start = number
        pending = f"{pending}\n{line}" if pending else line
        if pending.endswith("\\"):
            continue
        try:
            shlex.split(pending, comments=True)
        except ValueError:  # a quote still open
            continue
        if pending.strip() and not pending.lstrip().startswith("#"):
            yield start, pending
        pending = ""


def skip_reason(command):
    bare = re.sub(r"\s+#[^'\"]*$", "", command.strip())
    return next((reason for rule, reason in SKIPPED if re.search(rule, bare)), None)


def sets_variable(command):
    words = shlex.split(command, comments=True)
    return all(re.match(r"\w+=", word) for word in words)


def examples():
    for doc in DOCS:
        text = doc.read_text()
        for block in BLOCK.finditer(text):
            line = text[:block.start()].count("\n") + 2
            indent, kind, body = block.groups()
            body = textwrap.dedent(body) if indent else body
            if kind == "python":
                yield pytest.param(kind, body, id=f"{doc.name}:{line}")
                continue
            found = [(number, command, skip_reason(command)) for number, command in commands(body, line)]
            if any(sets_variable(command) for _, command, _ in found):
                found = [(line, "\n".join(c for _, c, skip in found if not skip), None)]
            for number, command, reason in found:
                marks = [pytest.mark.skip(reason=reason)] if reason else []
                yield pytest.param(kind, command, id=f"{doc.name}:{number}", marks=marks)


@pytest.mark.parametrize("kind, example", examples())
def test_example_runs_as_written(tmp_path, kind, example):
    if not (BUILD_DIR / "emulator" / "korvane-emu").exists() or BUILD_DIR != SOURCE_DIR / "build":
        pytest.skip("the docs name the build in build/ of the source tree")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("KORVANE_EMU", "PYTHON"))}
    env["LD_PRELOAD"] = preload()
    shim = tmp_path / "korvane"
    shim.write_text(SHIM.format(build=shlex.quote(str(BUILD_DIR)), python=shlex.quote(sys.executable),
                                state=shlex.quote(str(tmp_path / "bench.json")),
                                devices=" ".join(shlex.quote(f"--device={d}") for d in BENCH)))
    shim.chmod(0o755)
    (tmp_path / "korvane-emu").symlink_to(BUILD_DIR / "emulator" / "korvane-emu")
    env["PATH"] = f"{tmp_path}:{env['PATH']}"
    if kind == "python":
        script = tmp_path / "example.py"
        script.write_text(example)
        env["PYTHONPATH"] = "build/korvane:build/pykorvane:emulator/python"
        argv = [LAUNCHER, "--", sys.executable, str(script)]
    else:
        argv = ["bash", "-e", "-c", example]
    with subprocess.Popen(argv, cwd=SOURCE_DIR, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, start_new_session=True) as run:
        try:
            output = run.communicate(timeout=TIMEOUT_S)[0]
        except subprocess.TimeoutExpired:  # the example's whole process group goes
            os.killpg(run.pid, signal.SIGKILL)
            output = run.communicate()[0] + f"\n(killed after {TIMEOUT_S} s)"
    assert run.returncode == 0, f"{example}\nexit {run.returncode}\n{output}"
