#include "AdcHw.h"

#include "BlockIo.h"

namespace {
const uint8_t kValueBytes = 4;
}

AdcHw::AdcHw(KorService *service, int base)
    : service(service), channels(block_io::attributesFrom<kChannels>(base)) {}

AdcHw::~AdcHw() = default;

uint32_t AdcHw::analogRead(uint8_t channel) {
    const Outcome<uint32_t> read = this->channel(channel);
    return read.ok() ? read.value : 0xFFFFFFFF;
}

Outcome<uint32_t> AdcHw::channel(uint8_t channel) {
    if (channel >= kChannels) {
        return Outcome<uint32_t>::failed(block_io::badArgument());
    }
    CallGuard call(link());
    Attribute &value = channels[channel];
    const AttributeResult done = block_io::readZeroedStatus(service, value, kValueBytes);
    return done.ok() ? Outcome<uint32_t>{done, value.getValueUint32()}
                     : Outcome<uint32_t>::failed(done);
}
