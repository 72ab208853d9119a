// I2cHw: the korvane module's I2C bridge, an adapter over I2c: 16-bit
// register access whose calls say only "failed" (true) or give 0.
#ifndef KORVANE_I2CHW_H
#define KORVANE_I2CHW_H

#include <cstdint>
#include <memory>

#include "I2c.h"
#include "KorService.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

class KORVANE_API I2cHw {
public:
    I2cHw(KorService *service, int base);
    ~I2cHw();

#ifndef SWIG
    // What the block reaches its service through (see ServiceAnchor.h).
    const std::shared_ptr<ServiceAnchor> &anchor() const { return i2c.anchor(); }
#endif

    bool setI2cDeviceAddr(uint8_t addr);
    bool write2byte(uint8_t reg, uint16_t value);
    // 0 when the register cannot be read.
    uint16_t read2byte(uint8_t reg);

private:
    I2c i2c;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
