"""pytest fixtures for Korvane devices: bench tests that run in CI on
emulated devices and on the bench on real ones.

Installed with pykorvane (entry point ``pytest11``), so the fixtures are
there in every test::

    def test_rail(korvane_dmm):
        assert 4.75 <= korvane_dmm.voltage <= 5.25

- ``korvane_vanta``, ``korvane_hub``, ``korvane_dmm``: an opened
  :class:`~pykorvane.Vanta`, :class:`~pykorvane.Brondel` or
  :class:`~pykorvane.Dmm`, closed after the test.
- ``korvane_emulator``: the emulated devices' controller
  (:class:`BenchEmulator`), reset for each test with one device of each
  model: ``.vanta`` (VT-0001), ``.hub`` (BH-0001), ``.dmm`` (DM-0001).
- ``korvane_hardware``: True when the fixtures use real devices.

By default the device fixtures open the emulated devices. With
``--korvane-hardware`` they open the first attached device of each model
(the first one enumerated), or the one chosen with ``--korvane-vanta``,
``--korvane-hub`` or ``--korvane-dmm`` (a serial number, or a device path
such as ``/dev/hidraw3``); tests that use ``korvane_emulator`` are skipped.
A test whose device is not attached is an error, so that a bench run with
the cable out does not pass; ``--korvane-missing=skip`` skips it instead.

The emulated devices are chosen in the same process, as the HID backend
of the Korvane library (see :mod:`pykorvane.emulator`): a test that lists
or opens a real device before the first emulated one is created makes the
emulator fixture fail with the reason. Under ``korvane-emu`` the preloaded
library serves the fixtures the same way.
"""
from __future__ import annotations

import os
import typing
from typing import Dict, Type, TypeVar

import pytest

from .board import Vanta
from .device import Device
from .emulator import EmuDevice, EmuError, Emulator, korvane_emu
from .errors import DeviceNotFoundError
from .hub import Brondel
from .meter import Dmm

__all__ = ["BenchEmulator", "SERIALS"]

#: Serial numbers of the emulated devices, by product string.
SERIALS: Dict[str, str] = {Vanta.PRODUCT: "VT-0001", Brondel.PRODUCT: "BH-0001", Dmm.PRODUCT: "DM-0001"}

# The options that choose a real device, by the product they choose.
_CHOICES = {"--korvane-vanta": Vanta.PRODUCT, "--korvane-hub": Brondel.PRODUCT,
            "--korvane-dmm": Dmm.PRODUCT}

D = TypeVar("D", bound=Device)


class BenchEmulator(Emulator):
    """The emulator with one device of each model."""

    vanta: EmuDevice
    hub: EmuDevice
    dmm: EmuDevice

    def populate(self) -> None:
        """Removes every device, then adds a Vanta, a Brondel HUB and a DMM
        (ids 0, 1, 2) with the serial numbers of :data:`SERIALS`."""
        self.reset()
        self.vanta = self.add(Vanta.PRODUCT, serial=SERIALS[Vanta.PRODUCT])
        self.hub = self.add(Brondel.PRODUCT, serial=SERIALS[Brondel.PRODUCT])
        self.dmm = self.add(Dmm.PRODUCT, serial=SERIALS[Dmm.PRODUCT])


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("korvane", "Korvane devices")
    group.addoption("--korvane-hardware", action="store_true", default=False,
                    help="use the attached Korvane devices instead of emulated ones "
                         "(a test whose device is missing is an error)")
    group.addoption("--korvane-missing", choices=("error", "skip"), default="error",
                    help="with --korvane-hardware: what a test whose device is not attached "
                         "gets (default: error)")
    for option, product in _CHOICES.items():
        group.addoption(option, metavar="SERIAL|PATH", default=None,
                        help=f"with --korvane-hardware: the {product} to use, by serial number "
                             "or device path (default: the first attached)")


def _hardware(config: pytest.Config) -> bool:
    return bool(config.getoption("korvane_hardware"))


def pytest_configure(config: pytest.Config) -> None:
    if _hardware(config) and (korvane_emu.loaded_library() or os.environ.get("KORVANE_BACKEND") == "emulator"):
        raise pytest.UsageError(
            "--korvane-hardware: the emulated HID library serves this process "
            "(LD_PRELOAD, korvane-emu or KORVANE_BACKEND=emulator), so real devices cannot be "
            "reached; run pytest without it")


@pytest.fixture
def korvane_hardware(request: pytest.FixtureRequest) -> bool:
    """True when the device fixtures use real devices (--korvane-hardware)."""
    return _hardware(request.config)


@pytest.fixture
def korvane_emulator(request: pytest.FixtureRequest) -> typing.Iterator[BenchEmulator]:
    """The emulated devices, one of each model, reset for every test."""
    if _hardware(request.config):
        pytest.skip("needs emulated devices (runs without --korvane-hardware)")
    try:
        emulator = BenchEmulator()
    except EmuError as error:
        pytest.fail(f"korvane_emulator: {error}", pytrace=False)
    emulator.populate()
    yield emulator
    emulator.reset()


def _chosen(config: pytest.Config, model: Type[D]) -> D:
    """A device object of the model: the one chosen on the command line
    (hardware only), else the first attached."""
    option = next(o for o, product in _CHOICES.items() if product == model.PRODUCT)
    choice = config.getoption(option) if _hardware(config) else None
    if choice is None:
        return model()
    return model(path=choice) if os.sep in choice else model(serial=choice)


def _opened(request: pytest.FixtureRequest, model: Type[D]) -> typing.Iterator[D]:
    config = request.config
    hardware = _hardware(config)
    if not hardware:
        request.getfixturevalue("korvane_emulator")
    device = _chosen(config, model)
    try:
        device.open()
    except DeviceNotFoundError as error:
        if not hardware:
            raise
        if config.getoption("korvane_missing") == "skip":
            pytest.skip(f"{error} (--korvane-hardware)")
        pytest.fail(f"{error} (--korvane-hardware; --korvane-missing=skip skips such tests)",
                    pytrace=False)
    try:
        yield device
    finally:
        device.close()


@pytest.fixture
def korvane_vanta(request: pytest.FixtureRequest) -> typing.Iterator[Vanta]:
    """An opened Vanta I/O board, closed after the test."""
    yield from _opened(request, Vanta)


@pytest.fixture
def korvane_hub(request: pytest.FixtureRequest) -> typing.Iterator[Brondel]:
    """An opened Brondel HUB, closed after the test."""
    yield from _opened(request, Brondel)


@pytest.fixture
def korvane_dmm(request: pytest.FixtureRequest) -> typing.Iterator[Dmm]:
    """An opened DMM meter, closed after the test."""
    yield from _opened(request, Dmm)

