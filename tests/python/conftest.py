"""Shared fixtures: the built module and the emulated devices behind it.

The test command runs pytest with the emulated HID library preloaded, so the
module under test is the very _korvane users import, talking to firmware
models instead of USB devices.
"""
import gc
import pytest

import _korvane as K  # noqa: F401  (imported early so a broken build fails loudly)
import korvane
from device_helpers import model_on
from korvane_emu import Emulator


@pytest.fixture(scope="session")
def emulator():
    return Emulator()


@pytest.fixture
def emu(emulator):
    """The emulator with no devices; cleared again after the test."""
    emulator.reset()
    yield emulator
    # A model a test left in a reference cycle (a traceback kept by
    # pytest.raises, say) would hold its device's path claimed until its
    # receive thread saw the device gone; collect it first.
    gc.collect()
    emulator.reset()


@pytest.fixture
def vanta(emu):
    """An opened I/O board and its emulated device, with the open's traffic cleared."""
    with model_on(emu, korvane.Vanta, "Vanta", "VT-0001") as (board, dev):
        assert board.open() is False
        dev.clear_log()
        yield board, dev


@pytest.fixture
def board(emu):
    """An emulated I/O board (no model object)."""
    return emu.add("Vanta", serial="VT-0001")


@pytest.fixture
def link(board):
    """A raw link opened on the board."""
    device = korvane.KorDevice()
    assert device.open(board.path) is False
    yield device
    device.close()


PYKORVANE_SERIALS = {"Vanta": "VT-0001", "Brondel HUB": "BH-0001", "DMM": "DM-0001"}


@pytest.fixture
def opened_pykorvane(emu):
    """opened_pykorvane(product) adds an emulated device of that product and
    opens a pykorvane model on it: (model, device), the open's traffic
    cleared. The models are closed after the test."""
    import pykorvane as pk  # only the pykorvane tests need the binding

    classes = {"Vanta": pk.Vanta, "Brondel HUB": pk.Brondel, "DMM": pk.Dmm}
    made = []

    def open_model(product):
        serial = PYKORVANE_SERIALS[product]
        dev = emu.add(product, serial=serial)
        model = classes[product](serial=serial).open()
        made.append(model)
        dev.clear_log()
        return model, dev

    yield open_model
    for model in made:
        model.close()
