// GpioHw: a device's GPIO block, four 32-bit mask attributes from a base id.
#ifndef KORVANE_GPIOHW_H
#define KORVANE_GPIOHW_H

#include <cstdint>

#include "Attribute.h"
#include "KorService.h"

class GpioHw {
public:
    GpioHw(KorService *service, int base);
    ~GpioHw();
    // Copies give the target attributes of its own (source ids and values).
    GpioHw(const GpioHw &other);
    GpioHw &operator=(const GpioHw &other);

    bool pinMode(uint8_t pin, PinMode mode);
    bool write(uint32_t value);
    uint32_t read();
    bool digitalWrite(uint8_t pin, bool value);
    bool digitalRead(uint8_t pin);

private:
    static const int kAttributes = ATT_GPIO_RW + 1;

    KorService *service;
    // Indexed by AttGpioHw: direction, pull-up, pull-down and level masks.
    Attribute *attributes[kAttributes];
};

#endif
