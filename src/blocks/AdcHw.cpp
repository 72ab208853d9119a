#include "AdcHw.h"

#include "BlockIo.h"

namespace {
const uint8_t kValueBytes = 4;
}

AdcHw::AdcHw(KorService *service, int base)
    : service(service), channels(block_io::attributesFrom<kChannels>(base)) {}

AdcHw::~AdcHw() = default;

uint32_t AdcHw::analogRead(uint8_t channel) {
    if (channel >= kChannels) {
        return 0xFFFFFFFF;
    }
    CallGuard call(link());
    Attribute &value = channels[channel];
    if (block_io::readZeroed(service, &value, kValueBytes)) {
        return 0xFFFFFFFF;
    }
    return value.getValueUint32();
}
