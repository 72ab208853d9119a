// Identity attributes 0..4: vendor, product, revision, serial and firmware
// texts with their terminating zero. Read-only to the host.
#ifndef KORVANE_EMU_IDENTITY_BLOCK_H
#define KORVANE_EMU_IDENTITY_BLOCK_H

#include <array>
#include <string>

#include "AttributeBlock.h"

namespace emu {

class IdentityBlock : public AttributeBlock {
public:
    IdentityBlock(const std::string &product, const std::string &serial);

    bool read(uint16_t attid, Bytes &out) override;
    bool write(uint16_t, const Bytes &) override { return false; }
    bool set(uint16_t attid, const Bytes &value) override;

    // The five texts: printable ASCII with its terminating zero as a
    // string without it, any other value as {"hex": "<bytes>"}.
    std::string stateKey() const override { return "identity"; }
    json::Value saveState() const override;
    void loadState(const json::Value &state, const std::string &where) override;

private:
    std::array<Bytes, 5> texts;
};

}  // namespace emu

#endif
