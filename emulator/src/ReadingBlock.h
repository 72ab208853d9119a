// One of the meter's readings (voltage or current), constant or varying.
#ifndef KORVANE_EMU_READING_BLOCK_H
#define KORVANE_EMU_READING_BLOCK_H

#include <chrono>
#include <string>

#include "AttributeBlock.h"

namespace emu {

// A reading as an IEEE 754 single, least significant byte first: constant,
// or base + amplitude * sin(2 pi t / period) over time. Read-only to the host.
class ReadingBlock : public AttributeBlock {
public:
    ReadingBlock(uint16_t attid, float base, std::string name)
        : AttributeBlock(attid, 1), stateName(std::move(name)), readingBase(base) {}

    bool read(uint16_t, Bytes &out) override;
    bool write(uint16_t, const Bytes &) override { return false; }
    bool set(uint16_t, const Bytes &value) override;

    void setVariation(float base, float amplitude, int periodMs);

    // Base, amplitude and period; a varying reading starts its period
    // again when loaded.
    std::string stateKey() const override { return stateName; }
    json::Value saveState() const override;
    void loadState(const json::Value &state, const std::string &where) override;

private:
    using Clock = std::chrono::steady_clock;

    std::string stateName;
    float readingBase;
    float readingAmplitude = 0.0f;
    int readingPeriodMs = 0;
    Clock::time_point variationStart = Clock::now();
};

}  // namespace emu

#endif
