"""The models and the device link as context managers."""
import pytest

import korvane

MODELS = [("Vanta", korvane.Vanta), ("Brondel HUB", korvane.Brondel), ("DMM", korvane.Dmm)]


@pytest.mark.parametrize("product, model", MODELS)
def test_block_closes_the_device(emu, product, model):
    emu.add(product, serial="S-1")
    with model() as device:
        assert isinstance(device, model)
        assert device.open("S-1") is False
        assert device.isConnected() and emu.open_handle_count() == 1
    assert not device.isConnected()
    assert emu.open_handle_count() == 0
    # The identity read at open stays readable after the block.
    assert device.getProductSerial() == "S-1"


@pytest.mark.parametrize("product, model", MODELS)
def test_exception_in_block_closes_and_propagates(emu, product, model):
    emu.add(product, serial="S-1")
    with pytest.raises(ZeroDivisionError):
        with model() as device:
            assert device.open() is False
            1 / 0
    assert not device.isConnected()
    assert emu.open_handle_count() == 0


def test_block_without_open_leaves_nothing_to_close(emu):
    with korvane.Vanta() as board:
        assert not board.isConnected()
    assert not board.isConnected()


def test_device_closed_inside_the_block(emu):
    emu.add("Vanta", serial="VT-0001")
    with korvane.Vanta() as board:
        assert board.open() is False
        assert board.close() is False
    assert emu.open_handle_count() == 0


def test_core_connection_and_link(emu):
    meter = emu.add("DMM", serial="DM-0001")
    with korvane.KorCore() as core:
        assert core.openPath(meter.path) is False
        assert core.getProductName() == "DMM"
    assert not core.isConnected()
    with korvane.KorDevice() as link:
        assert link.open(meter.path) is False
        assert link.isOpen()
    assert not link.isOpen()
    assert emu.open_handle_count() == 0

