// AdcHw: a device's eight analogue channels, one attribute each.
#ifndef KORVANE_ADCHW_H
#define KORVANE_ADCHW_H

#include <array>
#include <cstdint>

#include "Attribute.h"
#include "KorService.h"

class AdcHw {
public:
    AdcHw(KorService *service, int base);
    ~AdcHw();
    // Copies (and assignments) take the source's service, attribute ids and
    // values into attributes of their own: a whole block.

#ifndef SWIG
    // The link this block talks through (null without one); its call lock
    // guards the block's operations.
    KorDevice *link() const { return service == nullptr ? nullptr : service->link(); }
#endif

    // The channel's value; 0xFFFFFFFF for channel 8 and above or a failed read.
    uint32_t analogRead(uint8_t channel);

#ifndef SWIG
    // The channel's value (channels 0-7), saying how the read ended.
    Outcome<uint32_t> channel(uint8_t channel);
#endif

private:
    static const int kChannels = 8;

    KorService *service;
    std::array<Attribute, kChannels> channels;
};

#endif
