#include "I2cHw.h"

#include "BlockIo.h"

namespace korvane {

namespace {
const uint8_t kRegisterBytes = 2;
const uint8_t kLastAddress = 0x7F;

bool isRegister(int reg) { return reg >= 0 && reg <= 0xFF; }
}  // namespace

I2cHw::I2cHw(KorService *service, int base)
    : serviceAnchor(block_io::anchorOf(service)),
      attributes(block_io::attributesFrom<kAttributes>(base)) {}

I2cHw::~I2cHw() = default;

// Any address is sent, 0x80 and above included, as the block has always done.
bool I2cHw::setI2cDeviceAddr(uint8_t addr) { return !sendTarget(addr).ok(); }

bool I2cHw::write2byte(uint8_t reg, uint16_t value) {
    return !writeRegister(reg, value, kRegisterBytes).ok();
}

uint16_t I2cHw::read2byte(uint8_t reg) {
    const Outcome<uint32_t> read = readRegister(reg, kRegisterBytes);
    return read.ok() ? static_cast<uint16_t>(read.value()) : 0;
}

AttributeResult I2cHw::setTarget(int address) {
    if (address < 0 || address > kLastAddress) {
        return block_io::badArgument();
    }
    return sendTarget(static_cast<uint8_t>(address));
}

AttributeResult I2cHw::sendTarget(uint8_t address) {
    block_io::BlockCall call(serviceAnchor);
    Attribute &target = attributes[ATT_I2C_DEVICE_ADDR];
    target.setValue(address);
    const AttributeResult done = block_io::writeStatus(call.service(), target);
    if (done.ok()) {
        pendingTarget = -1;  // the bridge holds what was asked for last
    }
    return done;
}

// Both register accesses hold the call lock across the register-address
// write and the data transfer, so another thread's access cannot move the
// register pointer in between. The data attribute of a width is the 1-byte
// one plus width - 1.
Outcome<uint32_t> I2cHw::readRegister(int reg, int width) {
    if (!isRegister(reg) || width < 1 || width > 4) {
        return Outcome<uint32_t>::failed(block_io::badArgument());
    }
    block_io::BlockCall call(serviceAnchor);
    AttributeResult done = settleTarget();
    if (!done.ok()) {
        return Outcome<uint32_t>::failed(done);
    }
    Attribute &regAddr = attributes[ATT_I2C_REG_ADDR];
    regAddr.setValue(static_cast<uint8_t>(reg));
    done = block_io::writeStatus(call.service(), regAddr);
    if (!done.ok()) {
        return Outcome<uint32_t>::failed(done);
    }
    const uint16_t data = attributes[ATT_I2C_RW_1BYTE + width - 1].getAttid();
    return block_io::readUint(call.service(), data, static_cast<uint8_t>(width));
}

AttributeResult I2cHw::writeRegister(int reg, uint32_t value, int width) {
    if (!isRegister(reg) || width < 1 || width > 4 || (width < 4 && value >> (8 * width) != 0)) {
        return block_io::badArgument();
    }
    block_io::BlockCall call(serviceAnchor);
    AttributeResult done = settleTarget();
    if (!done.ok()) {
        return done;
    }
    Attribute &regAddr = attributes[ATT_I2C_REG_ADDR];
    regAddr.setValue(static_cast<uint8_t>(reg));
    done = block_io::writeStatus(call.service(), regAddr);
    if (!done.ok()) {
        return done;  // the data must not land in whatever register was set before
    }
    // The value's low width bytes, least significant first.
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    Attribute &data = attributes[ATT_I2C_RW_1BYTE + width - 1];
    data.setValue(bytes, static_cast<uint8_t>(width));
    return block_io::writeStatus(call.service(), data);
}

// A target answers when a one-byte read of its register 0 goes through; the
// bridge refuses the transfer when nobody acknowledges the address.
Outcome<bool> I2cHw::probe(int address) {
    block_io::BlockCall call(serviceAnchor);
    const AttributeResult set = setTarget(address);
    if (!set.ok()) {
        return Outcome<bool>::failed(set);
    }
    const Outcome<uint32_t> read = readRegister(0, 1);
    if (read.result.status == AttributeStatus::Refused) {
        return Outcome<bool>{AttributeResult{AttributeStatus::Ok, RC_OK}, false};
    }
    return Outcome<bool>{read.result, read.ok()};
}

// Afterwards the bridge is set back to the target address it had before,
// also when a probe failed part-way. If even that fails, the next register
// access sends it first, so no data ever reaches a target the caller did
// not choose.
Outcome<std::vector<uint8_t>> I2cHw::scan(int first, int last) {
    using Found = Outcome<std::vector<uint8_t>>;
    if (first < 0 || first > last || last > kLastAddress) {
        return Found::failed(block_io::badArgument());
    }
    block_io::BlockCall call(serviceAnchor);
    int previous = pendingTarget;
    if (previous < 0) {
        Attribute &target = attributes[ATT_I2C_DEVICE_ADDR];
        const AttributeResult read =
            block_io::readStatus(call.service(), target, 1, block_io::Fill::Exact);
        if (!read.ok()) {
            return Found::failed(read);
        }
        previous = target.getValueUint8();
    }
    std::vector<uint8_t> answered;
    AttributeResult done{AttributeStatus::Ok, RC_OK};
    for (int address = first; address <= last && done.ok(); ++address) {
        const Outcome<bool> probed = probe(address);
        done = probed.result;
        if (probed.ok() && probed.value()) {
            answered.push_back(static_cast<uint8_t>(address));
        }
    }
    const AttributeResult restored = sendTarget(static_cast<uint8_t>(previous));
    if (!restored.ok()) {
        pendingTarget = previous;
    }
    if (!done.ok()) {
        return Found::failed(done);
    }
    return restored.ok() ? Found{restored, answered} : Found::failed(restored);
}

AttributeResult I2cHw::settleTarget() {
    return pendingTarget < 0 ? AttributeResult{AttributeStatus::Ok, RC_OK}
                             : sendTarget(static_cast<uint8_t>(pendingTarget));
}

}  // namespace korvane
