// The meter's calibration attribute: four offsets and the calibration runs.
#ifndef KORVANE_EMU_CALIBRATION_BLOCK_H
#define KORVANE_EMU_CALIBRATION_BLOCK_H

#include <array>
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

    void setOffsets(const std::array<int8_t, 4> &offsets) { frontEndOffsets = offsets; }
    int runs() const { return runCount; }

    std::string stateKey() const override { return "calibration"; }
    json::Value saveState() const override;
    void loadState(const json::Value &state, const std::string &where) override;

private:
    std::array<int8_t, 4> frontEndOffsets{-2, 3, 0, 1};
    int runCount = 0;
};

}  // namespace emu

#endif
