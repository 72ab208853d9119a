// Port control of the hub: one 32-bit mask, bit p - 1 switches port p on.
#ifndef KORVANE_EMU_PORT_CONTROL_BLOCK_H
#define KORVANE_EMU_PORT_CONTROL_BLOCK_H

#include "AttributeBlock.h"

namespace emu {

class PortControlBlock : public AttributeBlock {
public:
    explicit PortControlBlock(uint16_t attid) : AttributeBlock(attid, 1) {}

    bool read(uint16_t, Bytes &out) override {
        out = le32(portMask);
        return true;
    }
    bool write(uint16_t, const Bytes &value) override {
        if (!isMaskValue(value)) {
            return false;
        }
        portMask = fromLe(value);
        return true;
    }

    std::string stateKey() const override { return "ports"; }
    json::Value saveState() const override { return portMask; }
    void loadState(const json::Value &state, const std::string &where) override {
        portMask = uint32_t(json::integer(state, where, 0, UINT32_MAX));
    }

private:
    uint32_t portMask = 0;  // every port off at power-up
};

}  // namespace emu

#endif
