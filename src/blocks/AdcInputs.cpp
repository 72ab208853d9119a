#include "AdcInputs.h"

#include "BlockIo.h"

namespace korvane {

namespace {
const uint8_t kCountBytes = 4;
}

AdcInputs::AdcInputs(KorService *service, int base)
    : serviceAnchor(block_io::anchorOf(service)), firstId(base) {}

// A count is exactly four bytes: a shorter or longer answer is malformed,
// never a value.
Outcome<uint32_t> AdcInputs::read(int channel) {
    if (channel < 0 || channel >= kChannels) {
        return Outcome<uint32_t>::failed(block_io::badArgument());
    }
    const ServiceLease lease(serviceAnchor);
    return block_io::readUint(lease.service(), static_cast<uint16_t>(firstId + channel),
                              kCountBytes);
}

}  // namespace korvane
