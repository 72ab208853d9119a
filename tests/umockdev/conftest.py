"""Fixtures of the tests on emulated hidraw nodes: one HidBed for the
session, emptied after each test. Run under umockdev-wrapper (run.py)."""
import gc
import os

import pytest

if "libumockdev-preload" not in os.environ.get("LD_PRELOAD", ""):
    raise pytest.UsageError("these tests run under umockdev-wrapper: "
                            "python3 tests/umockdev/run.py tests/umockdev/...")

import korvane  # noqa: E402
import pykorvane  # noqa: E402
from hidbed import HidBed  # noqa: E402

SERIALS = {"Vanta": "VT-0001", "Brondel HUB": "BH-0001", "DMM": "DM-0001"}


@pytest.fixture(scope="session")
def hidbed():
    # The point of these tests: the system's hidraw hidapi in the process,
    # not the emulated HID library.
    with open("/proc/self/maps") as maps:
        mapped = maps.read()
    assert "libhidapi-hidraw.so" in mapped and "libkorvane_emu" not in mapped
    bed = HidBed()
    yield bed
    bed.close()


@pytest.fixture
def bed(hidbed):
    yield hidbed
    gc.collect()  # a model left in a reference cycle closes before its device goes
    hidbed.unplug_all()


@pytest.fixture
def trio(bed):
    """One device of each model, plugged in the order of SERIALS."""
    return {product: bed.plug(product, serial) for product, serial in SERIALS.items()}


@pytest.fixture
def opened(bed):
    """opened(product, face) plugs a device of that product and opens it on
    the face ("pykorvane" or "korvane"): (model, device). Closed afterwards."""
    classes = {"pykorvane": {"Vanta": pykorvane.Vanta, "Brondel HUB": pykorvane.Brondel,
                             "DMM": pykorvane.Dmm},
               "korvane": {"Vanta": korvane.Vanta, "Brondel HUB": korvane.Brondel,
                           "DMM": korvane.Dmm}}
    models = []

    def open_model(product, face):
        device = bed.plug(product, SERIALS[product])
        model = classes[face][product]()
        if face == "pykorvane":
            model.open()
        else:
            assert model.open() is False
        models.append(model)
        return model, device

    yield open_model
    for model in models:
        model.close()
