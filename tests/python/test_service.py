"""The attribute service on a link of the test's own: request bytes, answer
acceptance, pairing by arrival order, the bounded wait and link loss."""
import time

import pytest

import _korvane as K
import korvane
from device_helpers import host_reports, when_requested

OLD_VALUE = 0x11223344  # what an attribute holds before a transaction


def hexbytes(text):
    return bytes.fromhex(text)


def attribute(attid, value=None):
    attr = korvane.Attribute(attid, 0, 0)
    if value is not None:
        assert attr.setValue(value) is False
    return attr


def text_of(attr):
    return attr.getValueStr()


@pytest.fixture
def service(board, link):
    svc = korvane.KorService(link)
    board.clear_log()
    yield svc
    # The service goes before the link it borrows.
    K.delete_KorService(svc)


@pytest.mark.parametrize("attid, value, packet", [
    (0x1203, 0x2A, "05 12 12 03 2A"),
    (0x8000, 0x1234, "06 12 80 00 34 12"),
    (0x1200, 0xDFFFFFFF, "08 12 12 00 FF FF FF DF"),
    (0x0001, "ab", "06 12 00 01 61 62"),
    (0x0001, "", "04 12 00 01"),
])
def test_write_request_bytes(board, service, attid, value, packet):
    service.writeAttribute(attribute(attid, value))
    reports = host_reports(board)
    assert len(reports) == 1
    expected = hexbytes(packet)
    assert reports[0][:len(expected)] == expected


def test_read_request_bytes(board, service):
    service.readAttribute(attribute(0x8101))
    reports = host_reports(board)
    assert len(reports) == 1
    assert reports[0][:4] == hexbytes("04 13 81 01")
    assert board.requests() == [(0x13, 0x8101, b"")]


@pytest.mark.parametrize("answer, length, value_bytes", [
    ("05 13 01 AA BB", 2, "AA BB"),
    ("03 13 01", 0, ""),
    ("07 13 01 01 02 03 04", 4, "01 02 03 04"),
    ("23 13 01" + " 5A" * 32, 32, "5A" * 32),
])
def test_accepted_read_answers(board, service, answer, length, value_bytes):
    board.raw_answer(0x0002, hexbytes(answer))
    attr = attribute(0x0002, OLD_VALUE)
    assert service.readAttribute(attr) is False
    assert attr.getValueLength() == length
    expected = hexbytes(value_bytes)
    stored = attr.getValueUint64().to_bytes(8, "little")
    assert stored[:len(expected)] == expected[:8]


def test_two_byte_answer_reads_low_byte_first(board, service):
    board.raw_answer(0x0002, hexbytes("05 13 01 AA BB"))
    attr = attribute(0x0002)
    assert service.readAttribute(attr) is False
    assert attr.getValueUint16() == 0xBBAA


@pytest.mark.parametrize("answer", [
    "43 13 01 AA",            # bit 6 of the length byte
    "83 13 01",               # bit 7
    "02 13 01",               # length below 3
    "24 13 01" + " 00" * 33,  # 33 value bytes
    "04 12 01 AA",            # opcode of a write
    "04 13 00 AA",            # RC_FAIL
    "04 13 02 AA",            # unknown return code
])
def test_rejected_read_answers_leave_the_attribute(board, service, answer):
    board.raw_answer(0x0002, hexbytes(answer))
    attr = attribute(0x0002, OLD_VALUE)
    assert service.readAttribute(attr) is True
    assert attr.getValueUint32() == OLD_VALUE
    assert attr.getValueLength() == 4


@pytest.mark.parametrize("answer, failed", [
    ("03 12 01", False),
    ("03 12 00", True),
    ("04 12 01", True),
    ("03 13 01", True),
    ("43 12 01", True),
])
def test_write_answers(board, service, answer, failed):
    board.raw_answer(0x1203, hexbytes(answer))
    attr = attribute(0x1203, OLD_VALUE)
    assert service.writeAttribute(attr) is failed
    # The service works on a copy: the caller's attribute never changes.
    assert attr.getValueUint32() == OLD_VALUE
    assert attr.getValueLength() == 4


def test_device_refusal_is_a_failure(board, service):
    board.fail_attribute(0x0001)
    attr = attribute(0x0001, OLD_VALUE)
    assert service.readAttribute(attr) is True
    assert attr.getValueUint32() == OLD_VALUE
    assert service.writeAttribute(attribute(0x0001, "x")) is True


def test_notifications_between_request_and_answer_are_skipped(board, service):
    board.notifications_before_answer(3)
    attr = attribute(0x0001)
    assert service.readAttribute(attr) is False
    assert text_of(attr) == "Vanta"
    notifications = [e for e in board.log() if e.kind == 1 and e.report[1] == 0xA0]
    assert len(notifications) >= 3
    assert service.writeAttribute(attribute(0x1203, 0x01)) is False


@pytest.mark.parametrize("strays", [[hexbytes("01 02 03")], [bytes([0x04, 0x13, 0x01, n]) for n in range(1, 7)]])
def test_stale_reports_never_answer_the_next_request(board, service, strays):
    # Reports that came while no transaction ran (one that fits no request;
    # more than the queue holds) are dropped: each request gets its own answer.
    for report in strays:
        board.inject(report)
    product, revision = attribute(0x0001, OLD_VALUE), attribute(0x0002)
    assert service.readAttribute(product) is False
    assert text_of(product) == "Vanta"
    assert service.readAttribute(revision) is False
    assert text_of(revision) == "A1"


def test_closed_link_fails_at_once_without_traffic(board, link, service):
    link.close()
    board.clear_log()
    attr = attribute(0x0001, OLD_VALUE)
    started = time.monotonic()
    assert service.readAttribute(attr) is True
    assert service.writeAttribute(attribute(0x1203, 1)) is True
    assert time.monotonic() - started < 1.0  # no wait bound spent
    assert attr.getValueUint32() == OLD_VALUE
    assert board.log() == []


def test_service_on_a_never_opened_link(board):
    device = korvane.KorDevice()
    svc = korvane.KorService(device)
    try:
        assert svc.readAttribute(attribute(0x0001)) is True
        assert board.log() == []
    finally:
        K.delete_KorService(svc)


def test_muted_device_ends_the_wait_with_failure(board, service):
    board.mute()
    attr = attribute(0x0001, OLD_VALUE)
    started = time.monotonic()
    assert service.readAttribute(attr) is True
    waited = time.monotonic() - started
    assert 0.9 <= waited <= 5.0
    assert attr.getValueUint32() == OLD_VALUE
    board.mute(False)
    assert service.readAttribute(attr) is False
    assert text_of(attr) == "Vanta"


def test_none_is_refused(link, service):
    with pytest.raises((TypeError, ValueError)):
        korvane.KorService(None)
    with pytest.raises((TypeError, ValueError)):
        K.new_KorService(None)
    with pytest.raises((TypeError, ValueError)):
        service.readAttribute(None)
    with pytest.raises(ValueError) as error:
        service.writeAttribute(None)
    assert str(error.value) == ("invalid null reference in method "
                                "'KorService_writeAttribute', argument 2 of type 'Attribute'")


def test_close_during_traffic(emu, board, link, service):
    # The receive thread is reading a stream of notifications while the
    # caller closes the link under it: it takes one report a poll, so thirty
    # keep it busy for about 30 ms after the injection.
    for _ in range(15):
        if not link.isOpen():
            assert link.open(board.path) is False
        for _ in range(30):
            board.inject(bytes([0x03, 0xA0, 0x00]))
        assert link.close() is False
    assert emu.open_handle_count() == 0
    assert service.readAttribute(attribute(0x0001)) is True
    assert link.open(board.path) is False
    attr = attribute(0x0001)
    assert service.readAttribute(attr) is False
    assert text_of(attr) == "Vanta"


def test_unplug_during_a_transaction_ends_the_wait_at_once(board, link, service):
    # The call waits without the interpreter lock, so a helper thread pulls
    # the device once the request has reached it. The answer would come only
    # after the 1 s wait bound, so only the receive thread seeing the link
    # gone can end the wait early.
    board.answer_delay(5000)
    attr = attribute(0x0001, OLD_VALUE)
    unplugged_at = []

    def unplug():
        unplugged_at.append(time.monotonic())
        board.unplug()

    with when_requested(board, lambda requests: len(requests) > 0, unplug) as unplugged:
        started = time.monotonic()
        assert service.readAttribute(attr) is True
        returned = time.monotonic()
    assert unplugged.is_set()
    # Ended by the unplug, not by the bound (counted from after the request
    # went out): soon after the unplug and before the bound could end it.
    assert unplugged_at[0] < returned
    assert returned - unplugged_at[0] < 0.5
    assert returned - started < 1.0
    # The request went out before the device vanished.
    assert [r[:4] for r in host_reports(board)] == [hexbytes("04 13 00 01")]
    assert attr.getValueUint32() == OLD_VALUE
    board.replug()
    board.answer_delay(0)
    link.close()
    assert link.open(board.path) is False
    assert service.readAttribute(attr) is False
    assert text_of(attr) == "Vanta"
