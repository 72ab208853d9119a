"""GPIO, ADC and I2C blocks: exact traffic, results and caches, on the I/O
board's own blocks and on blocks built over a service of the test's own."""
import pytest

import _korvane as K
import korvane
from device_helpers import R, W, u32

GPIO, ADC, I2C = korvane.ATT_GPIO0_BASE, korvane.ATT_ADC_BASE, korvane.ATT_IC20_BASE
INOUT, PULL_UP, LEVELS = GPIO + 0, GPIO + 1, GPIO + 3
I2C_ADDR, I2C_REG, I2C_DATA2 = I2C + 0, I2C + 1, I2C + 3
FAILED_U32 = 0xFFFFFFFF


# --- GPIO -----------------------------------------------------------------

@pytest.mark.parametrize("mode, inout, pull_up, traffic, device_after", [
    (korvane.OUTPUT_PIN, 0xFFFFFFFF, 0,
     [R(INOUT), W(INOUT, u32(0xFFFFFFDF))], (0xFFFFFFDF, 0)),
    (korvane.INPUT_PULLUP_PIN, 0, 0,
     [R(INOUT), R(PULL_UP), W(PULL_UP, u32(0x20)), W(INOUT, u32(0x20))], (0x20, 0x20)),
    (korvane.INPUT_PIN, 0, 0xFFFFFFFF,
     [R(INOUT), R(PULL_UP), W(PULL_UP, u32(0xFFFFFFDF)), W(INOUT, u32(0x20))], (0x20, 0xFFFFFFDF)),
])
def test_pin_mode_sequences(vanta, mode, inout, pull_up, traffic, device_after):
    board, dev = vanta
    dev.set_attribute(INOUT, u32(inout))
    dev.set_attribute(PULL_UP, u32(pull_up))
    assert board.gpiohw.pinMode(5, mode) is False
    assert dev.requests() == traffic
    assert (dev.get_attribute(INOUT), dev.get_attribute(PULL_UP)) == tuple(map(u32, device_after))


def test_pin_mode_output_packet(vanta):
    board, dev = vanta
    dev.set_attribute(INOUT, u32(0xFFFFFFFF))
    assert board.gpiohw.pinMode(5, korvane.OUTPUT_PIN) is False
    written = [e.report for e in dev.log() if e.kind == 0][1]
    assert written[:8] == bytes.fromhex("08 12 12 00 DF FF FF FF")


@pytest.mark.parametrize("mode", [korvane.INPUT_PULLDOWN_PIN, 7, -1])
def test_pin_mode_unknown_or_pulldown_reads_and_fails(vanta, mode):
    board, dev = vanta
    assert board.gpiohw.pinMode(5, mode) is True
    assert dev.requests() == [R(INOUT), R(PULL_UP)]


@pytest.mark.parametrize("pin", [32, 33, 255])
@pytest.mark.parametrize("mode", [korvane.OUTPUT_PIN, korvane.INPUT_PULLUP_PIN])
def test_pin_mode_beyond_the_mask_fails_without_traffic(vanta, pin, mode):
    board, dev = vanta
    assert board.gpiohw.pinMode(pin, mode) is True
    assert dev.requests() == []


@pytest.mark.parametrize("failing, traffic", [
    (INOUT, [R(INOUT)]),
    (PULL_UP, [R(INOUT), R(PULL_UP)]),
])
def test_pin_mode_stops_at_a_failed_read(vanta, failing, traffic):
    board, dev = vanta
    dev.fail_attribute(failing)
    assert board.gpiohw.pinMode(5, korvane.INPUT_PULLUP_PIN) is True
    assert dev.requests() == traffic


def test_pin_mode_failed_direction_write_keeps_the_pull_up_written(vanta):
    board, dev = vanta
    dev.set_attribute(PULL_UP, u32(0))
    # The direction attribute answers every request with a read answer: the
    # read succeeds (mask 0), the final write is refused.
    dev.raw_answer(INOUT, bytes.fromhex("07 13 01 00 00 00 00"))
    assert board.gpiohw.pinMode(5, korvane.INPUT_PULLUP_PIN) is True
    assert dev.requests() == [R(INOUT), R(PULL_UP), W(PULL_UP, u32(0x20)), W(INOUT, u32(0x20))]
    assert dev.get_attribute(PULL_UP) == u32(0x20)


def test_write_whole_level_mask(vanta):
    board, dev = vanta
    assert board.gpiohw.write(0x12345678) is False
    assert dev.requests() == [W(LEVELS, u32(0x12345678))]
    assert [e.report for e in dev.log() if e.kind == 0][0][:8] == \
        bytes.fromhex("08 12 12 03 78 56 34 12")


def test_read_whole_level_mask(vanta):
    board, dev = vanta
    dev.set_attribute(INOUT, u32(0))  # all outputs: levels read back the latch
    dev.set_attribute(LEVELS, u32(0xA5A5A5A5))
    assert board.gpiohw.read() == 0xA5A5A5A5
    assert dev.requests() == [R(LEVELS)]
    dev.fail_attribute(LEVELS)
    assert board.gpiohw.read() == FAILED_U32 == 4294967295


@pytest.mark.parametrize("levels, expected", [(1 << 5, True), (0, False), (~(1 << 5) & FAILED_U32, False)])
def test_digital_read_samples_one_bit(vanta, levels, expected):
    board, dev = vanta
    dev.set_gpio_external(FAILED_U32, levels)  # all pins are inputs after reset
    assert board.gpiohw.digitalRead(5) is expected
    assert dev.requests() == [R(LEVELS)]


def test_digital_read_failure_and_pins_beyond_the_mask(vanta):
    board, dev = vanta
    assert board.gpiohw.digitalRead(32) is True
    assert board.gpiohw.digitalRead(200) is True
    assert dev.requests() == []
    dev.fail_attribute(LEVELS)
    assert board.gpiohw.digitalRead(5) is True


@pytest.mark.parametrize("pin, level, expected", [(3, True, 0x109), (0, False, 0x100), (31, True, 0x80000101)])
def test_digital_write_reads_modifies_and_writes(vanta, pin, level, expected):
    board, dev = vanta
    dev.set_attribute(INOUT, u32(0))
    dev.set_attribute(LEVELS, u32(0x101))
    assert board.gpiohw.digitalWrite(pin, level) is False
    assert dev.requests() == [R(LEVELS), W(LEVELS, u32(expected))]


@pytest.mark.parametrize("pin", [32, 255])
def test_digital_write_beyond_the_mask_fails_without_traffic(vanta, pin):
    board, dev = vanta
    assert board.gpiohw.digitalWrite(pin, True) is True
    assert dev.requests() == []


def test_level_cache_survives_failed_reads_and_writes(vanta):
    board, dev = vanta
    assert board.gpiohw.write(0x100) is False
    dev.fail_attribute(LEVELS)
    dev.clear_log()
    # The read fails: the write goes on from the cached mask, which is kept.
    assert board.gpiohw.digitalWrite(3, True) is True
    assert dev.requests() == [R(LEVELS), W(LEVELS, u32(0x108))]
    # The refused write still left its bit in the cache.
    dev.clear_log()
    assert board.gpiohw.digitalWrite(4, True) is True
    assert dev.requests() == [R(LEVELS), W(LEVELS, u32(0x118))]
    assert board.gpiohw.read() == FAILED_U32


def test_mask_cache_starts_with_zero_upper_bytes(vanta):
    board, dev = vanta
    dev.fail_attribute(LEVELS)
    assert board.gpiohw.digitalWrite(1, True) is True
    assert dev.requests() == [R(LEVELS), W(LEVELS, u32(0x2))]


def test_python_bool_required_for_levels(vanta):
    board, _ = vanta
    with pytest.raises(TypeError) as error:
        K.GpioHw_digitalWrite(board.gpiohw, 3, korvane.HIGH)
    assert str(error.value) == "in method 'GpioHw_digitalWrite', argument 3 of type 'bool'"


# --- ADC ------------------------------------------------------------------

def test_every_channel_reads_its_own_attribute(vanta):
    board, dev = vanta
    for channel in range(8):
        dev.set_adc(channel, 1000 + channel)
    assert [board.adchw.analogRead(c) for c in range(8)] == [1000 + c for c in range(8)]
    assert dev.requests() == [R(ADC + c) for c in range(8)]


@pytest.mark.parametrize("value", [0x1234, 0x80000000, 0, 0xFFFFFFFE])
def test_channel_value_is_unsigned(vanta, value):
    board, dev = vanta
    dev.set_adc(3, value)
    assert board.adchw.analogRead(3) == value


def test_channel_failures(vanta):
    board, dev = vanta
    assert board.adchw.analogRead(8) == FAILED_U32
    assert board.adchw.analogRead(255) == FAILED_U32
    assert dev.requests() == []
    dev.fail_attribute(ADC + 2)
    assert board.adchw.analogRead(2) == FAILED_U32


def test_short_channel_answer_is_a_failure(vanta):
    board, dev = vanta
    dev.set_adc(2, 0xAABBCCDD)
    assert board.adchw.analogRead(2) == 0xAABBCCDD
    dev.raw_answer(ADC + 2, bytes.fromhex("04 13 01 05"))
    assert board.adchw.analogRead(2) == 0xFFFFFFFF


# --- I2C ------------------------------------------------------------------

def test_set_target_address(vanta):
    board, dev = vanta
    assert board.i2chw.setI2cDeviceAddr(0x40) is False
    assert dev.requests() == [W(I2C_ADDR, b"\x40")]
    dev.clear_log()
    # The bridge takes 7-bit addresses only.
    assert board.i2chw.setI2cDeviceAddr(0x80) is True
    assert dev.requests() == [W(I2C_ADDR, b"\x80")]


def test_write_then_read_a_register(vanta):
    board, dev = vanta
    dev.add_i2c_target(0x21)
    assert board.i2chw.setI2cDeviceAddr(0x21) is False
    dev.clear_log()
    assert board.i2chw.write2byte(0x05, 0xABCD) is False
    assert dev.requests() == [W(I2C_REG, b"\x05"), W(I2C_DATA2, b"\xcd\xab")]
    assert dev.get_i2c_register(0x21, 0x05) == 0xABCD
    dev.clear_log()
    dev.set_i2c_register(0x21, 0x06, 0x1234)
    assert board.i2chw.read2byte(0x06) == 0x1234
    assert dev.requests() == [W(I2C_REG, b"\x06"), R(I2C_DATA2)]


def test_register_address_refused_stops_the_access(vanta):
    board, dev = vanta
    dev.fail_attribute(I2C_REG)
    assert board.i2chw.read2byte(0x05) == 0
    assert board.i2chw.write2byte(0x05, 0x1111) is True
    assert dev.requests() == [W(I2C_REG, b"\x05"), W(I2C_REG, b"\x05")]


def test_absent_target_fails_the_data_transfer(vanta):
    board, dev = vanta
    assert board.i2chw.setI2cDeviceAddr(0x33) is False
    assert board.i2chw.read2byte(0x01) == 0
    assert board.i2chw.write2byte(0x01, 0x2222) is True


def test_short_register_answer_is_a_failure(vanta):
    board, dev = vanta
    dev.set_i2c_register(0x40, 0x05, 0xABCD)
    assert board.i2chw.read2byte(0x05) == 0xABCD
    dev.raw_answer(I2C_DATA2, bytes.fromhex("04 13 01 34"))
    assert board.i2chw.read2byte(0x05) == 0


@pytest.mark.parametrize("call, message", [
    (lambda blk: K.I2cHw_write2byte(blk, 5, 65536), "in method 'I2cHw_write2byte', argument 3 of type 'uint16_t'"),
    (lambda blk: K.I2cHw_read2byte(blk, 256), "in method 'I2cHw_read2byte', argument 2 of type 'uint8_t'"),
])
def test_register_arguments_out_of_range(vanta, call, message):
    board, dev = vanta
    with pytest.raises(OverflowError) as error:
        call(board.i2chw)
    assert str(error.value) == message
    assert dev.requests() == []


# --- Blocks of the test's own -----------------------------------------------

@pytest.fixture
def own_service(board, link):
    service = korvane.KorService(link)
    yield service, board
    # The service goes before the link it borrows.
    K.delete_KorService(service)


def test_blocks_over_an_own_service(own_service):
    service, dev = own_service
    gpio = korvane.GpioHw(service, GPIO)
    adc = korvane.AdcHw(service, ADC)
    i2c = korvane.I2cHw(service, I2C)
    dev.set_adc(7, 77)
    assert gpio.write(0x3) is False
    assert adc.analogRead(7) == 77
    assert i2c.setI2cDeviceAddr(0x40) is False
    assert dev.requests() == [W(LEVELS, u32(3)), R(ADC + 7), W(I2C_ADDR, b"\x40")]


def test_block_with_another_base(own_service):
    service, dev = own_service
    dev.set_attribute(0x2003, u32(0x55))  # an attribute the board does not have
    gpio = korvane.GpioHw(service, 0x2000)
    assert gpio.read() == 0x55
    assert dev.requests() == [R(0x2003)]


@pytest.mark.parametrize("block", [korvane.GpioHw, korvane.AdcHw, korvane.I2cHw])
def test_blocks_refuse_a_missing_service(block):
    with pytest.raises((TypeError, ValueError)):
        block(None, 0x1200)


def test_blocks_on_a_closed_board_fail_without_traffic(emu):
    dev = emu.add("Vanta", serial="VT-0001")
    board = korvane.Vanta()
    assert board.gpiohw.pinMode(1, korvane.OUTPUT_PIN) is True
    assert board.gpiohw.read() == FAILED_U32
    assert board.adchw.analogRead(0) == FAILED_U32
    assert board.i2chw.read2byte(0) == 0
    assert dev.log() == []
