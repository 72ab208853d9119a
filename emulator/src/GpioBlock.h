// GPIO block: direction (1 = input), pull-up, pull-down and level masks at
// base + 0..3, bit n for pin n.
#ifndef KORVANE_EMU_GPIO_BLOCK_H
#define KORVANE_EMU_GPIO_BLOCK_H

#include "AttributeBlock.h"

namespace emu {

class GpioBlock : public AttributeBlock {
public:
    explicit GpioBlock(uint16_t base) : AttributeBlock(base, 4) {}

    bool read(uint16_t attid, Bytes &out) override;
    bool write(uint16_t attid, const Bytes &value) override;

    // Levels applied to the pins from outside the board.
    void setExternal(uint32_t drivenMask, uint32_t levels);
    // What the level attribute reads: outputs read back their driven level;
    // inputs read the outside level where one is applied, else 1 with the
    // pull-up on, else 0 (pull-down or floating).
    uint32_t levels() const;

    std::string stateKey() const override { return "gpio"; }
    json::Value saveState() const override;
    void loadState(const json::Value &state, const std::string &where) override;

private:
    // All pins start as inputs without pulls, like a microcontroller after reset.
    uint32_t direction = 0xFFFFFFFFu;
    uint32_t pullUp = 0;
    uint32_t pullDown = 0;
    uint32_t outputLatch = 0;
    uint32_t externalMask = 0;
    uint32_t externalLevels = 0;
};

}  // namespace emu

#endif
