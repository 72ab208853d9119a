// I2cHw: 16-bit register access to an I2C target through a device's bridge.
#ifndef KORVANE_I2CHW_H
#define KORVANE_I2CHW_H

#include <array>
#include <cstdint>

#include "Attribute.h"
#include "KorService.h"

class I2cHw {
public:
    I2cHw(KorService *service, int base);
    ~I2cHw();
    // Copies (and assignments) take the source's service, attribute ids and
    // values into attributes of their own: a whole block.

    // The link this block talks through (null without one); its call lock
    // guards the block's operations.
    KorDevice *link() const { return service == nullptr ? nullptr : service->link(); }

    bool setI2cDeviceAddr(uint8_t addr);
    bool write2byte(uint8_t reg, uint16_t value);
    uint16_t read2byte(uint8_t reg);

private:
    static const int kAttributes = 6;

    KorService *service;
    // Indexed by AttI2cHw: device address, register address, 1- to 4-byte data.
    std::array<Attribute, kAttributes> attributes;
};

#endif
