#include "AdcBlock.h"

namespace emu {

AdcBlock::AdcBlock(uint16_t base) : AttributeBlock(base, kChannels) {
    // Distinct values in a 12-bit converter's range, so a test that reads
    // the wrong channel notices: 100, 600, 1100, ..., 3600.
    for (int n = 0; n < kChannels; ++n)
        channels_[size_t(n)] = uint32_t(100 + 500 * n);
}

bool AdcBlock::read(uint16_t attid, Bytes &out) {
    out = le32(channels_[offset(attid)]);
    return true;
}

bool AdcBlock::set(uint16_t attid, const Bytes &value) {
    if (!isMaskValue(value))
        return false;
    channels_[offset(attid)] = fromLe(value);
    return true;
}

}  // namespace emu
