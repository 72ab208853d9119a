#include "AdcHw.h"

#include "BlockIo.h"

namespace {
const uint8_t kValueBytes = 4;
}

AdcHw::AdcHw(KorService *service, int base) : service(service), channels{} {
    block_io::makeOwned(channels, base);
}

AdcHw::~AdcHw() { block_io::deleteOwned(channels); }

AdcHw::AdcHw(const AdcHw &other) : service(other.service), channels{} {
    block_io::copyOwned(channels, other.channels);
}

// Own attributes keep the source's ids and values; the service pointer is
// copied, so the target reads through the source's service.
AdcHw &AdcHw::operator=(const AdcHw &other) {
    service = other.service;
    block_io::assignOwned(channels, other.channels);
    return *this;
}

uint32_t AdcHw::analogRead(uint8_t channel) {
    if (channel >= kChannels || block_io::readZeroed(service, channels[channel], kValueBytes)) {
        return 0xFFFFFFFF;
    }
    return channels[channel]->getValueUint32();
}
