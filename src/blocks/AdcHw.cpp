#include "AdcHw.h"

#include <memory>

#include "BlockIo.h"

namespace {
const uint8_t kValueBytes = 4;
}

AdcHw::AdcHw(KorService *service, int base) : service(service), channels{} {
    std::unique_ptr<Attribute> made[kChannels];
    for (int n = 0; n < kChannels; ++n) {
        made[n].reset(new Attribute(static_cast<uint16_t>(base + n), PERMISSION_NONE, 0));
    }
    for (int n = 0; n < kChannels; ++n) {
        channels[n] = made[n].release();
    }
}

AdcHw::~AdcHw() {
    for (Attribute *channel : channels) {
        delete channel;
    }
}

AdcHw::AdcHw(const AdcHw &other) : service(other.service), channels{} {
    std::unique_ptr<Attribute> made[kChannels];
    for (int n = 0; n < kChannels; ++n) {
        made[n].reset(new Attribute(*other.channels[n]));
    }
    for (int n = 0; n < kChannels; ++n) {
        channels[n] = made[n].release();
    }
}

// Own attributes keep the source's ids and values; the service pointer is
// copied, so the target reads through the source's service.
AdcHw &AdcHw::operator=(const AdcHw &other) {
    service = other.service;
    for (int n = 0; n < kChannels; ++n) {
        *channels[n] = *other.channels[n];
    }
    return *this;
}

uint32_t AdcHw::analogRead(uint8_t channel) {
    if (channel >= kChannels || block_io::readZeroed(service, channels[channel], kValueBytes)) {
        return 0xFFFFFFFF;
    }
    return channels[channel]->getValueUint32();
}
