// The meter's attributes: calibration offsets and the two readings.
#ifndef KORVANE_EMU_METER_BLOCKS_H
#define KORVANE_EMU_METER_BLOCKS_H

#include <array>
#include <chrono>
#include <string>

#include "AttributeBlock.h"

namespace emu {

// Reads as four signed offsets (low current, high current, low voltage,
// high voltage). Writing the 32-bit 0 runs a calibration, which counts the
// run and measures every offset as 0; any other write is refused.
class CalibrationBlock : public AttributeBlock {
public:
    explicit CalibrationBlock(uint16_t attid) : AttributeBlock(attid, 1) {}

    bool read(uint16_t, Bytes &out) override;
    bool write(uint16_t, const Bytes &value) override;
    bool set(uint16_t, const Bytes &value) override;

    void setOffsets(const std::array<int8_t, 4> &offsets) { offsets_ = offsets; }
    int runs() const { return runs_; }

    std::string stateKey() const override { return "calibration"; }
    json::Value saveState() const override;
    void loadState(const json::Value &state, const std::string &where) override;

private:
    std::array<int8_t, 4> offsets_{-2, 3, 0, 1};
    int runs_ = 0;
};

// A reading as an IEEE 754 single, least significant byte first: constant,
// or base + amplitude * sin(2 pi t / period) over time. Read-only to the host.
class ReadingBlock : public AttributeBlock {
public:
    ReadingBlock(uint16_t attid, float base, std::string name)
        : AttributeBlock(attid, 1), name_(std::move(name)), base_(base) {}

    bool read(uint16_t, Bytes &out) override;
    bool write(uint16_t, const Bytes &) override { return false; }
    bool set(uint16_t, const Bytes &value) override;

    void setVariation(float base, float amplitude, int periodMs);

    // Base, amplitude and period; a varying reading starts its period
    // again when loaded.
    std::string stateKey() const override { return name_; }
    json::Value saveState() const override;
    void loadState(const json::Value &state, const std::string &where) override;

private:
    using Clock = std::chrono::steady_clock;

    std::string name_;
    float base_;
    float amplitude_ = 0.0f;
    int periodMs_ = 0;
    Clock::time_point start_ = Clock::now();
};

}  // namespace emu

#endif
