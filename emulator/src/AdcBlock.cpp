#include "AdcBlock.h"

namespace emu {

AdcBlock::AdcBlock(uint16_t base) : AttributeBlock(base, kChannels) {
    // Distinct values in a 12-bit converter's range, so a test that reads
    // the wrong channel notices: 100, 600, 1100, ..., 3600.
    for (int n = 0; n < kChannels; ++n) {
        channels[size_t(n)] = uint32_t(100 + 500 * n);
    }
}

bool AdcBlock::read(uint16_t attid, Bytes &out) {
    out = le32(channels[offset(attid)]);
    return true;
}

bool AdcBlock::set(uint16_t attid, const Bytes &value) {
    if (!isMaskValue(value)) {
        return false;
    }
    channels[offset(attid)] = fromLe(value);
    return true;
}

json::Value AdcBlock::saveState() const {
    json::Value v = json::Value::array();
    for (uint32_t value : channels) {
        v.push_back(value);
    }
    return v;
}

// The eight channel values, channel 0 first.
void AdcBlock::loadState(const json::Value &state, const std::string &where) {
    const auto &values = json::array(state, where);
    if (values.size() != channels.size()) {
        throw json::Error(where + ": expected " + std::to_string(kChannels) + " channel values");
    }
    for (size_t n = 0; n < values.size(); ++n) {
        channels[n] = uint32_t(
            json::integer(values[n], where + "[" + std::to_string(n) + "]", 0, UINT32_MAX));
    }
}

}  // namespace emu
