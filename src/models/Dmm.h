// Dmm: the current and voltage meter, with the registers of its I2C target.
#ifndef KORVANE_DMM_H
#define KORVANE_DMM_H

#include <cstdint>
#include <string>

#include "Attribute.h"
#include "I2cHw.h"
#include "KorCore.h"

class Dmm : public KorCore {
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
    Dmm(const Dmm &) = delete;
    Dmm &operator=(const Dmm &) = delete;
    float readFloat(Attribute &reading);

    Attribute calibrationValue;
    Attribute voltage;
    Attribute current;
};

#endif
