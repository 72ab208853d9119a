"""Emulated Korvane devices: firmware models of the Vanta, the Brondel HUB
and the DMM behind a stand-in for hidapi (``libkorvane_emu.so``, shipped in
this folder), so that scripts and tests run without hardware.

The first :class:`Emulator` makes the emulated library the HID backend of
the process, at any time before the first listing or open::

    import pykorvane
    from pykorvane.emulator import Emulator
    emu = Emulator()                     # the emulated devices from here on
    emu.add("DMM", serial="DM-0001")
    with pykorvane.Dmm() as meter:
        print(meter.voltage)             # 5.0

Under the ``korvane-emu`` command, which preloads the library for any
program (``korvane-emu --state bench.json -- python3 script.py``), the
Emulator controls the preloaded devices. In pytest, use the fixtures of the
plugin ``pykorvane.pytest_plugin``. An Emulator created after a listing or
open through the system's hidapi raises :class:`EmuError` saying so.
"""
from .korvane_emu import DEVICE, HOST, EmuDevice, EmuError, Emulator, LogEntry, find_library, loaded_library

__all__ = ["DEVICE", "HOST", "EmuDevice", "EmuError", "Emulator", "LogEntry", "find_library", "loaded_library"]
