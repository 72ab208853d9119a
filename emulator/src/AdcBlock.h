// ADC block: eight 32-bit channel values at base + 0..7, read-only to the host.
#ifndef KORVANE_EMU_ADC_BLOCK_H
#define KORVANE_EMU_ADC_BLOCK_H

#include <array>

#include "AttributeBlock.h"

namespace emu {

class AdcBlock : public AttributeBlock {
public:
    static constexpr int kChannels = 8;

    explicit AdcBlock(uint16_t base);

    bool read(uint16_t attid, Bytes &out) override;
    bool write(uint16_t, const Bytes &) override { return false; }
    bool set(uint16_t attid, const Bytes &value) override;

    void setChannel(int channel, uint32_t value) { channels[size_t(channel)] = value; }

    std::string stateKey() const override { return "adc"; }
    json::Value saveState() const override;
    void loadState(const json::Value &state, const std::string &where) override;

private:
    std::array<uint32_t, kChannels> channels{};
};

}  // namespace emu

#endif
