"""The raw device link: the open forms, report framing, reads and closing."""
import ctypes
import time

import pytest

import _korvane as K
import korvane
from device_helpers import OPEN_FAILED, assert_deleting_open_releases_handle, host_reports


def fill(packet, data):
    """Puts data at the start of a korPacket's 65-byte buffer."""
    ctypes.memmove(int(packet.dat), bytes(data), len(data))


def contents(packet):
    return ctypes.string_at(int(packet.dat), korvane.BUF_LEN)


def read_report(link, packet, timeout=1.0):
    """Polls the non-blocking read until a report arrives (bounded)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        count = link.read(packet.dat)
        if count != 0:
            return count
        time.sleep(0.002)
    return 0


def test_open_close_states(board, capfd):
    device = korvane.KorDevice()
    assert device.isOpen() is False
    assert device.open(board.path) is False
    assert device.isOpen() is True
    assert device.close() is False
    assert device.isOpen() is False
    assert device.close() is True
    assert capfd.readouterr().err == ""


@pytest.mark.parametrize("form", ["ids", "ids_none_serial", "ids_serial"])
def test_open_by_ids(emu, form):
    emu.add("DMM", serial="DM-0001")
    wanted = emu.add("DMM", serial="DM-0002")
    device = korvane.KorDevice()
    records = K.hid_enumerate(korvane.USB_VID_PIC, korvane.USB_PID_PIC)
    try:
        if form == "ids":
            result = device.open(korvane.USB_VID_PIC, korvane.USB_PID_PIC)
        elif form == "ids_none_serial":
            result = device.open(korvane.USB_VID_PIC, korvane.USB_PID_PIC, None)
        else:
            record = records
            while K.convertWcharToString(record.serial_number) != "DM-0002":
                record = record.next
            result = device.open(korvane.USB_VID_PIC, korvane.USB_PID_PIC,
                                 record.serial_number)
    finally:
        K.hid_free_enumeration(records)
    assert result is False
    assert device.isOpen() is True
    if form == "ids_serial":
        # The open handle talks to the device with that serial only.
        packet = korvane.korPacket()
        fill(packet, [0x04, 0x13, 0x00, 0x03])
        assert device.write(packet.dat, 4) is False
        assert len(host_reports(wanted)) == 1
    device.close()


@pytest.mark.parametrize("cause", ["no_such_path", "refused", "unplugged", "ids_absent"])
def test_failed_open_prints_once_and_reports_failure(emu, board, capfd, cause):
    device = korvane.KorDevice()
    if cause == "no_such_path":
        result = device.open("/dev/no-such-hidraw")
    elif cause == "refused":
        board.refuse_open()
        result = device.open(board.path)
    elif cause == "unplugged":
        board.unplug()
        result = device.open(board.path)
    else:
        result = device.open(0x2341, 0x8036)
    assert result is True
    assert device.isOpen() is False
    captured = capfd.readouterr()
    assert captured.err == OPEN_FAILED
    assert captured.out == ""


def test_open_with_none_path_is_refused_without_crash():
    device = korvane.KorDevice()
    assert device.open(None) is True
    assert device.isOpen() is False


@pytest.mark.parametrize("length, sent", [(0, True), (4, True), (64, True), (65, False), (255, False)])
def test_write_frames_one_report(board, link, length, sent):
    packet = korvane.korPacket()
    payload = bytes(range(1, 65))
    fill(packet, payload)
    board.clear_log()
    assert link.write(packet.dat, length) is (not sent)
    reports = host_reports(board)
    if sent:
        assert len(reports) == 1
        assert reports[0][:length] == payload[:length]
    else:
        assert reports == []


def test_raw_request_and_answer(board, link):
    packet = korvane.korPacket()
    fill(packet, [0x04, 0x13, 0x00, 0x01])  # read the product name
    assert link.write(packet.dat, 4) is False
    answer = korvane.korPacket()
    count = read_report(link, answer)
    # The report number 0 is removed: the answer starts at index 0.
    assert count == 64
    data = contents(answer)
    assert data[:3] == bytes([3 + 6, 0x13, 0x01])
    assert data[3:9] == b"Vanta\0"


def test_read_without_waiting_report_returns_zero_at_once(link):
    packet = korvane.korPacket()
    started = time.monotonic()
    assert link.read(packet.dat) == 0
    assert time.monotonic() - started < 0.5


def test_closed_link_and_null_buffers_are_refused(board, link):
    packet = korvane.korPacket()
    assert link.write(None, 4) is True
    assert link.read(None) == -1
    link.close()
    board.clear_log()
    assert link.write(packet.dat, 4) is True
    assert link.read(packet.dat) == -1
    assert host_reports(board) == []


@pytest.mark.parametrize("first", ["read", "write"])
def test_unplugged_device_fails_and_the_link_says_so(board, link, first):
    board.unplug()
    packet = korvane.korPacket()
    if first == "read":
        assert link.read(packet.dat) == -1
    else:
        assert link.write(packet.dat, 4) is True
    assert link.isOpen() is False
    assert link.write(packet.dat, 4) is True
    board.replug()
    assert link.open(board.path) is False
    assert link.write(packet.dat, 4) is False


def test_closing_one_link_keeps_the_others_usable(emu):
    first = emu.add("Vanta", serial="VT-0001")
    second = emu.add("Vanta", serial="VT-0002")
    link_a, link_b = korvane.KorDevice(), korvane.KorDevice()
    assert link_a.open(first.path) is False
    assert link_b.open(second.path) is False
    assert link_a.close() is False
    packet = korvane.korPacket()
    fill(packet, [0x04, 0x13, 0x00, 0x03])
    assert link_b.write(packet.dat, 4) is False
    assert read_report(link_b, packet) == 64
    assert contents(packet)[3:11] == b"VT-0002\0"
    link_b.close()
    assert emu.open_handle_count() == 0


def test_deleting_an_open_link_closes_it(emu, board):
    assert_deleting_open_releases_handle(emu, "KorDevice", "open", board.path)
