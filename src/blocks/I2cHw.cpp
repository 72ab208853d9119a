#include "I2cHw.h"

#include "BlockIo.h"

namespace {
const uint8_t kRegisterBytes = 2;
}

I2cHw::I2cHw(KorService *service, int base)
    : service(service), attributes(block_io::attributesFrom<kAttributes>(base)) {}

I2cHw::~I2cHw() = default;

bool I2cHw::setI2cDeviceAddr(uint8_t addr) {
    CallGuard call(link());
    Attribute &target = attributes[ATT_I2C_DEVICE_ADDR];
    target.setValue(addr);
    return block_io::write(service, target);
}

// Both register accesses hold the call lock across the register-address
// write and the data transfer, so another thread's access cannot move the
// register pointer in between.
bool I2cHw::write2byte(uint8_t reg, uint16_t value) {
    CallGuard call(link());
    Attribute &regAddr = attributes[ATT_I2C_REG_ADDR];
    regAddr.setValue(reg);
    if (block_io::write(service, regAddr)) {
        return true;  // the data must not land in whatever register was set before
    }
    Attribute &data = attributes[ATT_I2C_RW_2BYTE];
    data.setValue(value);
    return block_io::write(service, data);
}

uint16_t I2cHw::read2byte(uint8_t reg) {
    CallGuard call(link());
    Attribute &regAddr = attributes[ATT_I2C_REG_ADDR];
    regAddr.setValue(reg);
    if (block_io::write(service, regAddr)) {
        return 0;
    }
    Attribute &data = attributes[ATT_I2C_RW_2BYTE];
    if (block_io::readZeroed(service, &data, kRegisterBytes)) {
        return 0;
    }
    return data.getValueUint16();
}
