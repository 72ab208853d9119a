"""Every model operation once, on both faces, answered by the firmware
models over hidraw: (product, what the call does, what it gives)."""
import korvane
import pytest

POWER_MONITOR = {0: 0x4127, 1: 0x0271, 2: 0x0FA0, 3: 0x00FA, 4: 0x09C4, 5: 0x0A00,
                 **{reg: 0 for reg in range(0x06, 0x12)}}


def gpio_output(gpio, pin):
    gpio.mode(pin, "output")
    gpio.write(pin, True)
    return gpio.read(pin)


def pull_up(gpio, pin):
    gpio.mode(pin, "pullup")
    return gpio.read(pin)


def write_levels(gpio):
    gpio.mode(0, "output")
    gpio.mode(1, "output")
    gpio.write_levels(0b111)  # pin 2 stays an input: its bit reads 0
    return gpio.levels & 0b111


def i2c_round_trip(i2c, fw):
    i2c.target = 0x40
    i2c.write(0x05, 0xABCD)
    return i2c.read(0x05), fw.i2c_register(0x40, 0x05)


def port_switching(hub, fw):
    hub.port_mask = 0
    hub.port_on(3)
    hub.port_on(1)
    hub.port_off(1)
    return hub.is_port_on(3), hub.port_mask, fw.attribute(0x8000)


def calibrated(meter):
    meter.calibrate()
    return tuple(meter.calibration_offsets)


PYKORVANE = [
    ("Vanta", lambda m, fw: (fw.set_attribute(2, b"B7\0"),
                             m.vendor, m.product, m.revision, m.serial, m.firmware)[1:],
     ("Korvane", "Vanta", "B7", "VT-0001", "1.0.0")),
    ("Vanta", lambda m, fw: (gpio_output(m.gpio, 5), fw.attribute(0x1203)),
     (True, bytes([0x20, 0, 0, 0]))),
    ("Vanta", lambda m, fw: pull_up(m.gpio, 4), True),
    ("Vanta", lambda m, fw: write_levels(m.gpio), 0b011),
    ("Vanta", lambda m, fw: (fw.set_adc(3, 1234), m.adc.read(3))[1], 1234),
    ("Vanta", lambda m, fw: m.adc.read_all(), [100 + 500 * n for n in range(8)]),
    ("Vanta", lambda m, fw: i2c_round_trip(m.i2c, fw), (0xABCD, 0xABCD)),
    ("Vanta", lambda m, fw: (fw.set_i2c_register(0x40, 6, 0x1111),
                             fw.set_i2c_register(0x40, 7, 0x2222), m.i2c.read(6, width=4))[2],
     0x22221111),
    ("Vanta", lambda m, fw: (m.i2c.probe(0x48), m.i2c.scan()), (False, [0x40])),
    ("Brondel HUB", lambda m, fw: port_switching(m, fw), (True, 0b100, bytes([4, 0, 0, 0]))),
    ("Brondel HUB", lambda m, fw: (setattr(m, "port_mask", 0xFFFFFFFF), fw.attribute(0x8000))[1],
     b"\xff" * 4),
    ("Brondel HUB", lambda m, fw: gpio_output(m.gpio, 0), True),
    ("DMM", lambda m, fw: (fw.set_reading(0x8101, 3.25), m.voltage, m.current)[1:],
     (3.25, 0.25)),
    ("DMM", lambda m, fw: tuple(m.calibration_offsets), (-2, 3, 0, 1)),
    ("DMM", lambda m, fw: calibrated(m), (0, 0, 0, 0)),
    ("DMM", lambda m, fw: m.registers(), POWER_MONITOR),
    ("DMM", lambda m, fw: (m.die_id, m.i2c.read(0x02)), (0x2260, 0x0FA0)),
]

KORVANE = [
    ("Vanta", lambda m, fw: (m.getVendorName(), m.getProductName(), m.getProductRevision(),
                             m.getProductSerial(), m.getFirmVersion()),
     ("Korvane", "Vanta", "A1", "VT-0001", "1.0.0")),
    ("Vanta", lambda m, fw: (m.gpiohw.pinMode(5, korvane.OUTPUT_PIN),
                             m.gpiohw.digitalWrite(5, True), m.gpiohw.digitalRead(5),
                             fw.attribute(0x1203)),
     (False, False, True, bytes([0x20, 0, 0, 0]))),
    ("Vanta", lambda m, fw: (m.gpiohw.pinMode(0, korvane.OUTPUT_PIN), m.gpiohw.write(0x0F),
                             m.gpiohw.read()), (False, False, 0x01)),
    ("Vanta", lambda m, fw: (fw.set_adc(3, 1234), m.adchw.analogRead(3))[1], 1234),
    ("Vanta", lambda m, fw: (m.i2chw.setI2cDeviceAddr(0x40), m.i2chw.write2byte(0x05, 0xABCD),
                             m.i2chw.read2byte(0x05)), (False, False, 0xABCD)),
    ("Brondel HUB", lambda m, fw: (m.enableAllUsbPort(), m.disableUsbPort(2),
                                   fw.attribute(0x8000)),
     (False, False, bytes([0xFD, 0xFF, 0xFF, 0xFF]))),
    ("Brondel HUB", lambda m, fw: (m.disableAllUsbPort(), m.enableUsbPort(1),
                                   m.getUsbPortStatus(), fw.attribute(0x8000)),
     (False, False, False, bytes([1, 0, 0, 0]))),
    ("DMM", lambda m, fw: (fw.set_reading(0x8102, 0.5), m.getVoltage(), m.getCurrent())[1:],
     (5.0, 0.5)),
    ("DMM", lambda m, fw: (m.calibration(), m.getCalibrationData()),
     (False, "LOW_CURRENT_OFFSET: 0\nHIGH_CURRENT_OFFSET: 0\nLOW_VOLTAGE_OFFSET: 0\n"
             "HIGH_VOLTAGE_OFFSET: 0\n")),
    ("DMM", lambda m, fw: (m.showReg().splitlines(), m.getDieID()),
     ([f"{r:x}: {hex(v)}" for r, v in POWER_MONITOR.items()], 0x2260)),
]


@pytest.mark.parametrize(
    "face,product,call,expected",
    [pytest.param(face, *row, id=f"{face}-{row[0]}-{n}")
     for face, rows in (("pykorvane", PYKORVANE), ("korvane", KORVANE))
     for n, row in enumerate(rows)])
def test_operation(opened, face, product, call, expected):
    model, device = opened(product, face)
    assert call(model, device.firmware) == expected
