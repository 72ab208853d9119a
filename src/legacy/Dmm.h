// Dmm: the korvane module's current and voltage meter, with the registers
// of its I2C target: an adapter over Meter whose calls give the module's
// failure values (-999.9, "", 0, true).
#ifndef KORVANE_DMM_H
#define KORVANE_DMM_H

#include <cstdint>
#include <string>

#include "I2cHw.h"
#include "KorCore.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
class Meter;
#endif

class KORVANE_API Dmm : public KorCore {
public:
    Dmm();
    ~Dmm();

    I2cHw i2chw;

    bool open();
    bool open(std::string serial);
    bool calibration();
    std::string getCalibrationData();
    float getVoltage();
    float getCurrent();
    std::string showReg();
    uint16_t getDieID();

private:
    Meter &meter() const;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
