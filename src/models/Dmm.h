// Dmm: the current and voltage meter, with the registers of its I2C target.
#ifndef KORVANE_DMM_H
#define KORVANE_DMM_H

#include <cstdint>
#include <string>
#include <vector>

#include "Attribute.h"
#include "I2cHw.h"
#include "KorCore.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

class KORVANE_API Dmm : public KorCore {
public:
    Dmm();
#ifndef SWIG
    // receive: see KorCore(KorService::Receive).
    explicit Dmm(KorService::Receive receive);
#endif
    ~Dmm();
#ifndef SWIG
    // Movable, not copyable: the object moved to takes the connection, the
    // one moved from is left closed (see KorCore::swapConnection). Pin and
    // channel handles and pointers to the blocks stay with their object.
    Dmm(Dmm &&other);
    Dmm &operator=(Dmm &&other);
#endif

    I2cHw i2chw;

    bool open();
    bool open(std::string serial);
    bool calibration();
    std::string getCalibrationData();
    float getVoltage();
    float getCurrent();
    std::string showReg();
    uint16_t getDieID();

#ifndef SWIG
    // The meter's abilities, each saying how it ended (see AttributeStatus.h).
    struct CalibrationOffsets {
        int8_t lowCurrent;
        int8_t highCurrent;
        int8_t lowVoltage;
        int8_t highVoltage;
    };
    Outcome<float> voltageReading();
    Outcome<float> currentReading();
    Outcome<CalibrationOffsets> calibrationOffsets();
    AttributeResult calibrate();
    // The measuring chip's registers 0x00 to 0x11, as showReg dumps them.
    Outcome<std::vector<uint16_t>> registers();
    Outcome<uint16_t> dieId();
#endif

private:
    void swapWith(Dmm &other) noexcept;
    Dmm(const Dmm &) = delete;
    Dmm &operator=(const Dmm &) = delete;
    Outcome<float> reading(Attribute &attribute);

    Attribute calibrationValue;
    Attribute voltage;
    Attribute current;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
