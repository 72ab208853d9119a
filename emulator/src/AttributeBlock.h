// One functional block of a firmware model: a run of consecutive attribute
// ids with the behaviour behind them.
#ifndef KORVANE_EMU_ATTRIBUTE_BLOCK_H
#define KORVANE_EMU_ATTRIBUTE_BLOCK_H

#include <cstdint>
#include <string>

#include "Bytes.h"
#include "StateJson.h"

namespace emu {

class AttributeBlock {
public:
    AttributeBlock(uint16_t base, uint16_t count) : firstAttid(base), attidCount(count) {}
    virtual ~AttributeBlock() = default;
    AttributeBlock(const AttributeBlock &) = delete;
    AttributeBlock &operator=(const AttributeBlock &) = delete;

    bool serves(uint16_t attid) const {
        return attid >= firstAttid && attid - firstAttid < attidCount;
    }

    // The value a host read gets; false answers RC_FAIL.
    virtual bool read(uint16_t attid, Bytes &out) = 0;
    // A host write; false refuses it with RC_FAIL.
    virtual bool write(uint16_t attid, const Bytes &value) = 0;
    // A value set through the control API: a write that may also reach
    // attributes the host cannot write.
    virtual bool set(uint16_t attid, const Bytes &value) { return write(attid, value); }

    // The block's part of the state file, under stateKey() in the device's
    // record; blocks with an empty key keep nothing.
    virtual std::string stateKey() const { return {}; }
    virtual json::Value saveState() const { return {}; }
    // Restores what saveState wrote (members left out keep their value);
    // throws json::Error naming where on a value it cannot take.
    virtual void loadState(const json::Value &, const std::string &) {}

protected:
    unsigned offset(uint16_t attid) const { return unsigned(attid - firstAttid); }

private:
    uint16_t firstAttid;
    uint16_t attidCount;
};

// Masks and port sets accept 1 to 4 value bytes, zero-extended to 32 bits.
inline bool isMaskValue(const Bytes &value) { return !value.empty() && value.size() <= 4; }

}  // namespace emu

#endif
