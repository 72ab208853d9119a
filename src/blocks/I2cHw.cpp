#include "I2cHw.h"

#include "BlockIo.h"

namespace {
const uint8_t kRegisterBytes = 2;
}

I2cHw::I2cHw(KorService *service, int base) : service(service), attributes{} {
    block_io::makeOwned(attributes, base);
}

I2cHw::~I2cHw() { block_io::deleteOwned(attributes); }

I2cHw::I2cHw(const I2cHw &other) : service(other.service), attributes{} {
    block_io::copyOwned(attributes, other.attributes);
}

// Own attributes keep the source's ids and values; the service pointer is
// copied, so the target talks through the source's service.
I2cHw &I2cHw::operator=(const I2cHw &other) {
    service = other.service;
    block_io::assignOwned(attributes, other.attributes);
    return *this;
}

bool I2cHw::setI2cDeviceAddr(uint8_t addr) {
    Attribute *target = attributes[ATT_I2C_DEVICE_ADDR];
    target->setValue(addr);
    return block_io::write(service, *target);
}

bool I2cHw::write2byte(uint8_t reg, uint16_t value) {
    Attribute *regAddr = attributes[ATT_I2C_REG_ADDR];
    regAddr->setValue(reg);
    if (block_io::write(service, *regAddr)) {
        return true;  // the data must not land in whatever register was set before
    }
    Attribute *data = attributes[ATT_I2C_RW_2BYTE];
    data->setValue(value);
    return block_io::write(service, *data);
}

uint16_t I2cHw::read2byte(uint8_t reg) {
    Attribute *regAddr = attributes[ATT_I2C_REG_ADDR];
    regAddr->setValue(reg);
    if (block_io::write(service, *regAddr)) {
        return 0;
    }
    Attribute *data = attributes[ATT_I2C_RW_2BYTE];
    if (block_io::readZeroed(service, data, kRegisterBytes)) {
        return 0;
    }
    return data->getValueUint16();
}
