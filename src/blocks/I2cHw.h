// I2cHw: 16-bit register access to an I2C target through a device's bridge.
#ifndef KORVANE_I2CHW_H
#define KORVANE_I2CHW_H

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "Attribute.h"
#include "KorService.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

// What a block reaches its service through (see ServiceAnchor.h).
class ServiceAnchor;

class KORVANE_API I2cHw {
public:
    I2cHw(KorService *service, int base);
    ~I2cHw();
    // Copies (and assignments) take the source's service, attribute ids and
    // values into attributes of their own: a whole block.

#ifndef SWIG
    // What the block reaches its service through (see ServiceAnchor.h); null
    // for a block made without a service.
    const std::shared_ptr<ServiceAnchor> &anchor() const { return serviceAnchor; }
#endif

    bool setI2cDeviceAddr(uint8_t addr);
    bool write2byte(uint8_t reg, uint16_t value);
    uint16_t read2byte(uint8_t reg);

#ifndef SWIG
    // The same abilities and more, each saying how it ended (see
    // AttributeStatus.h). Target addresses 0x00-0x7F; register data of 1 to
    // 4 bytes, least significant first; registers 0x00-0xFF. A number out of
    // range is BadArgument, never another one.
    AttributeResult setTarget(int address);
    Outcome<uint32_t> readRegister(int reg, int width);
    AttributeResult writeRegister(int reg, uint32_t value, int width);
    // Whether a target acknowledges address; leaves the bridge set to it.
    Outcome<bool> probe(int address);
    // The addresses in first..last whose target acknowledges (0x08-0x77 is
    // the range an I2C bus scan covers by default).
    Outcome<std::vector<uint8_t>> scan(int first = 0x08, int last = 0x77);
#endif

private:
    static const int kAttributes = 6;

    // Sets the bridge's target address, unchecked.
    AttributeResult sendTarget(uint8_t address);
    // Sends the target a scan could not set back, if any (Ok otherwise).
    AttributeResult settleTarget();

    std::shared_ptr<ServiceAnchor> serviceAnchor;
    // Indexed by AttI2cHw: device address, register address, 1- to 4-byte data.
    std::array<Attribute, kAttributes> attributes;
    // The target address the bridge should have but may not (a scan failed
    // to set it back), or -1: register accesses send it before they start.
    int pendingTarget = -1;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
