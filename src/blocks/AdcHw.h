// AdcHw: a device's eight analogue channels, one attribute each.
#ifndef KORVANE_ADCHW_H
#define KORVANE_ADCHW_H

#include <cstdint>

#include "Attribute.h"
#include "KorService.h"

class AdcHw {
public:
    AdcHw(KorService *service, int base);
    ~AdcHw();
    AdcHw(const AdcHw &other);
    AdcHw &operator=(const AdcHw &other);

    // The channel's value; 0xFFFFFFFF for channel 8 and above or a failed read.
    uint32_t analogRead(uint8_t channel);

private:
    static const int kChannels = 8;

    KorService *service;
    Attribute *channels[kChannels];
};

#endif
