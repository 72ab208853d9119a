"""Shared fixtures: the built module and the emulated devices behind it.

The test command runs pytest with the emulated HID library preloaded, so the
module under test is the very _korvane users import, talking to firmware
models instead of USB devices.
"""
import pytest

import _korvane as K  # noqa: F401  (imported early so a broken build fails loudly)
from korvane_emu import Emulator


@pytest.fixture(scope="session")
def emulator():
    return Emulator()


@pytest.fixture
def emu(emulator):
    """The emulator with no devices; cleared again after the test."""
    emulator.reset()
    yield emulator
    emulator.reset()
