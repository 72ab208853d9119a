// Meter: the current and voltage meter's connection, with the registers of
// its measuring chip behind its I2C bridge.
#ifndef KORVANE_METER_H
#define KORVANE_METER_H

#include <cstdint>
#include <vector>

#include "Connection.h"
#include "I2c.h"
#include "export.h"

namespace korvane {

class KORVANE_API Meter : public Connection {
public:
    explicit Meter(KorService::Receive receive = KorService::Receive::Waiting);
    ~Meter() override;
    // Movable, not copyable (see Board).
    Meter(Meter &&other);
    Meter &operator=(Meter &&other);

    // The meter's abilities, each saying how it ended (see AttributeStatus.h).
    struct CalibrationOffsets {
        int8_t lowCurrent;
        int8_t highCurrent;
        int8_t lowVoltage;
        int8_t highVoltage;
    };
    // Volts and amperes.
    Outcome<float> voltage();
    Outcome<float> current();
    Outcome<CalibrationOffsets> calibrationOffsets();
    // Starts the meter's calibration run.
    AttributeResult calibrate();
    // The measuring chip's registers 0x00 to 0x11.
    Outcome<std::vector<uint16_t>> registers();
    // The chip's die id (its register 0xFF).
    Outcome<uint16_t> dieId();

    I2c i2c;

    // The last register registers() reads, and the die id's register.
    static const int kLastRegister = 0x11;
    static const int kDieIdRegister = 0xFF;

private:
    void swapWith(Meter &other) noexcept;
    Outcome<float> reading(uint16_t attid);
};

}  // namespace korvane

#endif
