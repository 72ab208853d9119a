#!/usr/bin/env python3
"""The README's short tour, with type annotations.

The module's stub (korvane.pyi, installed beside korvane.py) gives a type
checker the real types of every call, so `mypy --strict` checks this script
as it checks any typed code; the annotated variables below say what each
call returns. Run it like any script:

    PYTHONPATH=build/korvane /usr/bin/python3 examples/typed_use.py

Exit status: 0 when each model was found and every step worked, 1 otherwise.
"""
from __future__ import annotations

import sys

import korvane

# Failure values of the reads that return one (True means failure for the rest).
FAILED_MASK = 0xFFFFFFFF
FAILED_READING = -999.9000244140625  # -999.9 as the single-precision number it is


def board_tour(board: korvane.Vanta) -> list[str]:
    """Drives pin 5, reads ADC channel 3 and register 0xFF of I2C target 0x40."""
    failures: list[str] = []
    gpio: korvane.GpioHw = board.gpiohw
    if gpio.pinMode(5, korvane.OUTPUT_PIN) or gpio.digitalWrite(5, True):
        failures.append("driving pin 5")
    level: bool = gpio.digitalRead(5)
    levels: int = gpio.read()
    print(f"pin 5 high: {level}, levels 0x{levels:08x}")
    channel: int = board.adchw.analogRead(3)
    if channel == FAILED_MASK:
        failures.append("reading ADC channel 3")
    print(f"ADC channel 3: {channel} (handle: {korvane.Adc(board, 3).value()})")
    i2c: korvane.I2cHw = board.i2chw
    if i2c.setI2cDeviceAddr(0x40):
        failures.append("setting the I2C target")
    print(f"I2C register 0xff: 0x{i2c.read2byte(0xFF):04x}")
    return failures


def hub_tour(hub: korvane.Brondel) -> list[str]:
    """Switches port 3 off and every port on again."""
    failed: bool = hub.disableUsbPort(3) or hub.enableAllUsbPort()
    status: int = hub.getUsbPortStatus()
    return ["switching hub ports"] if failed or status else []


def meter_tour(meter: korvane.Dmm) -> list[str]:
    """Reads voltage, current and calibration offsets."""
    volts: float = meter.getVoltage()
    amps: float = meter.getCurrent()
    calibration: str = meter.getCalibrationData()
    print(f"{volts:.3f} V, {amps:.3f} A")
    print(calibration)
    return ["reading the meter"] if FAILED_READING in (volts, amps) or not calibration else []


def main() -> int:
    names: tuple[str, ...] = korvane.KorDeviceManager().getDeviceList()
    print("attached:", ", ".join(names) or "nothing")
    failures: list[str] = []
    with korvane.Vanta() as board:
        if board.open():
            failures.append("no Vanta attached")
        else:
            print(board.getProductName(), board.getProductSerial())
            failures += board_tour(board)
    with korvane.Brondel() as hub:
        failures += ["no Brondel HUB attached"] if hub.open() else hub_tour(hub)
    with korvane.Dmm() as meter:
        failures += ["no DMM attached"] if meter.open() else meter_tour(meter)
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
