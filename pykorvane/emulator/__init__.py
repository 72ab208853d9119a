"""Emulated Korvane devices: firmware models of the Vanta, the Brondel HUB
and the DMM behind a stand-in for hidapi (``libkorvane_emu.so``, shipped in
this folder), so that scripts and tests run without hardware.

The emulated HID library has to be in the process before pykorvane's
binding is loaded, and importing this package imports pykorvane first. So:

- run the program under the ``korvane-emu`` command, which preloads the
  library (``korvane-emu --state bench.json -- python3 script.py``), and
  control the devices from it with this package's :class:`Emulator`; or
- in a plain interpreter, create the Emulator from the top-level module
  ``korvane_emu`` (the same code) before importing pykorvane::

      from korvane_emu import Emulator
      emu = Emulator()                     # loads the emulated HID library
      emu.add("DMM", serial="DM-0001")
      import pykorvane
      with pykorvane.Dmm() as meter:
          print(meter.voltage)             # 5.0

- in pytest, use the fixtures of the plugin ``pykorvane.pytest_plugin``.

An Emulator created too late raises :class:`EmuError` saying so.
"""
from .korvane_emu import DEVICE, HOST, EmuDevice, EmuError, Emulator, LogEntry, find_library, loaded_library

__all__ = ["DEVICE", "HOST", "EmuDevice", "EmuError", "Emulator", "LogEntry", "find_library", "loaded_library"]
