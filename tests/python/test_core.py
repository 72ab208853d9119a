"""The core connection: open by path, the identity read at open, close."""
import pytest

import _korvane as K
import korvane
from device_helpers import IDENTITY_READS, OPEN_FAILED, assert_deleting_open_releases_handle


def identity(core):
    return (core.getVendorName(), core.getProductName(), core.getProductRevision(),
            core.getProductSerial(), core.getFirmVersion())


def test_new_connection_is_empty_and_closed():
    core = korvane.KorCore()
    assert core.isConnected() is False
    assert identity(core) == ("", "", "", "", "")
    assert core.close() is True


def test_open_reads_the_five_identity_texts_in_order(board):
    core = korvane.KorCore()
    assert core.openPath(board.path) is False
    assert core.isConnected() is True
    assert identity(core) == ("Korvane", "Vanta", "A1", "VT-0001", "1.0.0")
    assert board.requests() == IDENTITY_READS


@pytest.mark.parametrize("path, message", [(None, ""), ("/dev/no-such-hidraw", OPEN_FAILED)])
def test_open_failures(board, capfd, path, message):
    core = korvane.KorCore()
    assert core.openPath(path) is True
    assert core.isConnected() is False
    assert capfd.readouterr().err == message
    assert board.log() == []


def test_refused_open_prints_once_and_keeps_identity(board, capfd):
    core = korvane.KorCore()
    assert core.openPath(board.path) is False
    core.close()
    board.refuse_open()
    assert core.openPath(board.path) is True
    assert capfd.readouterr().err == OPEN_FAILED
    assert core.getProductSerial() == "VT-0001"


def test_second_open_changes_nothing(emu, board):
    other = emu.add("DMM", serial="DM-0001")
    core = korvane.KorCore()
    assert core.openPath(board.path) is False
    board.clear_log()
    assert core.openPath(other.path) is True
    assert core.getProductName() == "Vanta"
    assert board.log() == [] and other.log() == []
    assert emu.open_handle_count() == 1


def test_close_keeps_identity_and_reopen_reads_it_again(emu, board):
    core = korvane.KorCore()
    assert core.openPath(board.path) is False
    assert core.close() is False
    assert core.isConnected() is False
    assert emu.open_handle_count() == 0
    assert core.getProductSerial() == "VT-0001"
    assert core.close() is True
    board.set_attribute(korvane.ATT_FIRM_VERSION, b"2.3.4\0")
    board.clear_log()
    assert core.openPath(board.path) is False
    assert core.getFirmVersion() == "2.3.4"
    assert board.requests() == IDENTITY_READS


def test_refused_identity_answer_keeps_the_previous_text(board):
    board.fail_attribute(korvane.ATT_PRODUCT_NAME)
    core = korvane.KorCore()
    assert core.openPath(board.path) is False
    assert identity(core) == ("Korvane", "", "A1", "VT-0001", "1.0.0")
    # On a reopen the refused attribute keeps the text of the earlier open.
    core.close()
    board.fail_attribute(korvane.ATT_PRODUCT_NAME, False)
    assert core.openPath(board.path) is False
    core.close()
    board.fail_attribute(korvane.ATT_PRODUCT_NAME)
    board.set_attribute(korvane.ATT_VENDOR_NAME, b"Other\0")
    assert core.openPath(board.path) is False
    assert core.getVendorName() == "Other"
    assert core.getProductName() == "Vanta"


@pytest.mark.parametrize("value, text", [
    (b"A" * 32, "A" * 32),               # no terminating zero: all 32 bytes
    (b"B" * 31 + b"\0", "B" * 31),
    (b"", ""),
    (b"Vant\xe9\0", "Vant\udce9"),       # not UTF-8: escaped, not refused
])
def test_identity_texts(board, value, text):
    board.set_attribute(korvane.ATT_VENDOR_NAME, value)
    core = korvane.KorCore()
    assert core.openPath(board.path) is False
    assert core.getVendorName() == text


def test_identity_text_shorter_than_the_previous_one(board):
    core = korvane.KorCore()
    board.set_attribute(korvane.ATT_PRODUCT_REVISION, b"REVISION-LONG\0")
    assert core.openPath(board.path) is False
    core.close()
    board.set_attribute(korvane.ATT_PRODUCT_REVISION, b"B2\0")
    assert core.openPath(board.path) is False
    assert core.getProductRevision() == "B2"


@pytest.mark.parametrize("model, name, serial", [
    ("Vanta", "Vanta", "VT-0009"), ("Brondel", "Brondel HUB", "BH-0009"), ("Dmm", "DMM", "DM-0009")])
def test_core_functions_accept_every_model(emu, model, name, serial):
    emu.add(name, serial=serial)
    device = getattr(K, "new_" + model)()
    try:
        assert getattr(K, model + "_open")(device) is False
        assert K.KorCore_isConnected(device) is True
        assert K.KorCore_getVendorName(device) == "Korvane"
        assert K.KorCore_getProductName(device) == name
        assert K.KorCore_getProductSerial(device) == serial
        assert K.KorCore_close(device) is False
        assert K.KorCore_isConnected(device) is False
    finally:
        getattr(K, "delete_" + model)(device)
    assert emu.open_handle_count() == 0


def test_deleting_an_open_connection_releases_the_handle(emu, board):
    assert_deleting_open_releases_handle(emu, "KorCore", "openPath", board.path)


def test_connections_are_independent(emu):
    first = emu.add("Vanta", serial="VT-0001")
    second = emu.add("Vanta", serial="VT-0002")
    a, b = korvane.KorCore(), korvane.KorCore()
    assert a.openPath(first.path) is False
    a.close()
    # Closing one connection must not disturb the opening of another.
    assert b.openPath(second.path) is False
    assert b.getProductSerial() == "VT-0002"
    assert a.openPath(first.path) is False
    assert a.getProductSerial() == "VT-0001"
