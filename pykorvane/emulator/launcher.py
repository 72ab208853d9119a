"""The ``korvane-emu`` command of the installed package: runs the launcher
script shipped beside the emulated HID library in this folder."""
from __future__ import annotations

import os
import shutil
import sys
from typing import List, Optional

__all__ = ["main"]

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "korvane-emu")


def main(argv: Optional[List[str]] = None) -> int:
    """Replaces this process with the launcher; returns only when it cannot start."""
    args = sys.argv[1:] if argv is None else argv
    bash = shutil.which("bash")
    if bash is None or not os.path.isfile(SCRIPT):
        print(f"korvane-emu: cannot run {SCRIPT} (bash and the script are needed)", file=sys.stderr)
        return 2
    os.execv(bash, [bash, SCRIPT, *args])
    return 2  # not reached: execv replaces the process or raises


if __name__ == "__main__":
    sys.exit(main())
