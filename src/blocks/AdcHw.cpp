#include "AdcHw.h"

#include "BlockIo.h"

namespace korvane {

namespace {
const uint8_t kValueBytes = 4;
}

AdcHw::AdcHw(KorService *service, int base)
    : serviceAnchor(block_io::anchorOf(service)),
      channels(block_io::attributesFrom<kChannels>(base)) {}

AdcHw::~AdcHw() = default;

uint32_t AdcHw::analogRead(uint8_t channel) {
    const Outcome<uint32_t> read = this->channel(channel);
    return read.valueOr(0xFFFFFFFF);
}

// A count is exactly four bytes: a shorter or longer answer is malformed,
// never a value.
Outcome<uint32_t> AdcHw::channel(int channel) {
    if (channel < 0 || channel >= kChannels) {
        return Outcome<uint32_t>::failed(block_io::badArgument());
    }
    block_io::BlockCall call(serviceAnchor);
    Attribute &value = channels[channel];
    const AttributeResult done =
        block_io::readStatus(call.service(), value, kValueBytes, block_io::Fill::Exact);
    return done.ok() ? Outcome<uint32_t>{done, value.getValueUint32()}
                     : Outcome<uint32_t>::failed(done);
}

}  // namespace korvane
