#include "I2cHw.h"

#include "BlockIo.h"

namespace korvane {

namespace {
const int kRegisterBytes = 2;
}

I2cHw::I2cHw(KorService *service, int base) : i2c(service, base) {}

I2cHw::~I2cHw() = default;

// Any address is sent, 0x80 and above included, as the module has always
// done (I2c::setTarget refuses those).
bool I2cHw::setI2cDeviceAddr(uint8_t addr) {
    block_io::BlockCall call(i2c.anchor());
    return !block_io::writeUint(call.service(),
                                static_cast<uint16_t>(i2c.base() + ATT_I2C_DEVICE_ADDR), addr, 1)
                .ok();
}

bool I2cHw::write2byte(uint8_t reg, uint16_t value) {
    return !i2c.write(reg, value, kRegisterBytes).ok();
}

uint16_t I2cHw::read2byte(uint8_t reg) {
    return static_cast<uint16_t>(i2c.read(reg, kRegisterBytes).valueOr(0));
}

}  // namespace korvane
