// I2c: register access to an I2C target through a device's bridge
// (attributes from a base id: target address, register address, then 1- to
// 4-byte data).
#ifndef KORVANE_I2C_H
#define KORVANE_I2C_H

#include <cstdint>
#include <memory>
#include <vector>

#include "AttributeStatus.h"
#include "KorService.h"
#include "export.h"

namespace korvane {

// What a block reaches its service through (see ServiceAnchor.h).
class ServiceAnchor;

class KORVANE_API I2c {
public:
    // A block made without a service fails every call as not open.
    I2c(KorService *service, int base);

    // Each call says how it ended (see AttributeStatus.h). Target addresses
    // 0x00-0x7F; register data of 1 to 4 bytes, least significant first;
    // registers 0x00-0xFF. A number out of range is BadArgument, never
    // another one.
    AttributeResult setTarget(int address);
    Outcome<uint32_t> read(int reg, int width);
    AttributeResult write(int reg, uint32_t value, int width);
    // Whether a target acknowledges address; the bridge keeps its target.
    Outcome<bool> probe(int address);
    // The addresses in first..last whose target acknowledges (0x08-0x77 is
    // the range an I2C bus scan covers by default); the bridge keeps its
    // target.
    Outcome<std::vector<uint8_t>> scan(int first = 0x08, int last = 0x77);

    // What the block reaches its service through (null for a block made
    // without a service), and its first attribute id.
    const std::shared_ptr<ServiceAnchor> &anchor() const { return serviceAnchor; }
    int base() const { return firstId; }

private:
    // Sets the bridge's target address, unchecked.
    AttributeResult sendTarget(uint8_t address);
    // Sends the target a scan could not set back, if any (Ok otherwise).
    AttributeResult settleTarget();
    // Sets the target and reads its register 0: whether it answered.
    Outcome<bool> answers(uint8_t address);
    // Sets the register pointer: the first step of every register access.
    AttributeResult pointAt(int reg);
    uint16_t id(int which) const { return static_cast<uint16_t>(firstId + which); }

    std::shared_ptr<ServiceAnchor> serviceAnchor;
    int firstId;
    // The target address the bridge should have but may not (a scan failed
    // to set it back), or -1: register accesses send it before they start.
    int pendingTarget = -1;
};

}  // namespace korvane

#endif
