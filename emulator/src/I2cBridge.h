// I2C bridge: base + 0 target address, base + 1 register pointer, base + 2..5
// data transfers of 1 to 4 bytes at the register pointer of the addressed
// target. Targets are 256 sixteen-bit registers each.
#ifndef KORVANE_EMU_I2C_BRIDGE_H
#define KORVANE_EMU_I2C_BRIDGE_H

#include <array>
#include <map>

#include "AttributeBlock.h"

namespace emu {

class I2cBridge : public AttributeBlock {
public:
    using RegisterFile = std::array<uint16_t, 256>;
    static constexpr uint8_t kDefaultAddress = 0x40;

    explicit I2cBridge(uint16_t base) : AttributeBlock(base, 6) {}

    bool read(uint16_t attid, Bytes &out) override;
    bool write(uint16_t attid, const Bytes &value) override;

    // Adds a target with all registers 0; an existing target is kept as is.
    bool addTarget(uint8_t address);
    bool removeTarget(uint8_t address);
    // Null when no target answers at this address.
    RegisterFile *target(uint8_t address);

    // Address, register pointer and every target with its registers (those
    // not listed are 0); loading replaces the targets.
    std::string stateKey() const override { return "i2c"; }
    json::Value saveState() const override;
    void loadState(const json::Value &state, const std::string &where) override;

private:
    static constexpr uint8_t kMaxAddress = 0x7F;  // 7-bit bus addresses

    bool readData(unsigned width, Bytes &out);
    bool writeData(unsigned width, const Bytes &value);

    std::map<uint8_t, RegisterFile> targetRegisters;
    uint8_t selectedAddress = kDefaultAddress;
    uint8_t registerPointer = 0;
};

}  // namespace emu

#endif
