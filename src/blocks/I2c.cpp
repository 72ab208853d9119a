#include "I2c.h"

#include "BlockIo.h"

namespace korvane {

namespace {
const int kLastAddress = 0x7F;

bool isRegister(int reg) { return reg >= 0 && reg <= 0xFF; }
bool isWidth(int width) { return width >= 1 && width <= 4; }
}  // namespace

I2c::I2c(KorService *service, int base)
    : serviceAnchor(block_io::anchorOf(service)), firstId(base) {}

AttributeResult I2c::setTarget(int address) {
    if (address < 0 || address > kLastAddress) {
        return block_io::badArgument();
    }
    return sendTarget(static_cast<uint8_t>(address));
}

AttributeResult I2c::sendTarget(uint8_t address) {
    block_io::BlockCall call(serviceAnchor);
    const AttributeResult done =
        block_io::writeUint(call.service(), id(ATT_I2C_DEVICE_ADDR), address, 1);
    if (done.ok()) {
        pendingTarget = -1;  // the bridge holds what was asked for last
    }
    return done;
}

AttributeResult I2c::settleTarget() {
    return pendingTarget < 0 ? block_io::ok() : sendTarget(static_cast<uint8_t>(pendingTarget));
}

AttributeResult I2c::pointAt(int reg) {
    const AttributeResult settled = settleTarget();
    if (!settled.ok()) {
        return settled;
    }
    block_io::BlockCall call(serviceAnchor);
    return block_io::writeUint(call.service(), id(ATT_I2C_REG_ADDR), static_cast<uint32_t>(reg), 1);
}

// Both register accesses hold the call lock across the register-address
// write and the data transfer, so another thread's access cannot move the
// register pointer in between. The data attribute of a width is the 1-byte
// one plus width - 1.
Outcome<uint32_t> I2c::read(int reg, int width) {
    if (!isRegister(reg) || !isWidth(width)) {
        return Outcome<uint32_t>::failed(block_io::badArgument());
    }
    block_io::BlockCall call(serviceAnchor);
    const AttributeResult pointed = pointAt(reg);
    if (!pointed.ok()) {
        return Outcome<uint32_t>::failed(pointed);
    }
    return block_io::readUint(call.service(), id(ATT_I2C_RW_1BYTE + width - 1),
                              static_cast<uint8_t>(width));
}

AttributeResult I2c::write(int reg, uint32_t value, int width) {
    if (!isRegister(reg) || !isWidth(width) || (width < 4 && value >> (8 * width) != 0)) {
        return block_io::badArgument();
    }
    block_io::BlockCall call(serviceAnchor);
    const AttributeResult pointed = pointAt(reg);
    if (!pointed.ok()) {
        return pointed;  // the data must not land in whatever register was set before
    }
    return block_io::writeUint(call.service(), id(ATT_I2C_RW_1BYTE + width - 1), value,
                               static_cast<uint8_t>(width));
}

// A target answers when a one-byte read of its register 0 goes through; the
// bridge refuses the transfer when nobody acknowledges the address.
Outcome<bool> I2c::answers(uint8_t address) {
    const AttributeResult set = sendTarget(address);
    if (!set.ok()) {
        return Outcome<bool>::failed(set);
    }
    const Outcome<uint32_t> read = this->read(0, 1);
    if (read.status() == AttributeStatus::Refused) {
        return Outcome<bool>{block_io::ok(), false};
    }
    return Outcome<bool>{read.result, read.ok()};
}

Outcome<bool> I2c::probe(int address) {
    const Outcome<std::vector<uint8_t>> found = scan(address, address);
    return Outcome<bool>{found.result, found.ok() && !found.value().empty()};
}

// Afterwards the bridge is set back to the target address it had before,
// also when a probe failed part-way. If even that fails, the next register
// access sends it first, so no data ever reaches a target the caller did
// not choose.
Outcome<std::vector<uint8_t>> I2c::scan(int first, int last) {
    using Found = Outcome<std::vector<uint8_t>>;
    if (first < 0 || first > last || last > kLastAddress) {
        return Found::failed(block_io::badArgument());
    }
    block_io::BlockCall call(serviceAnchor);
    int previous = pendingTarget;
    if (previous < 0) {
        const Outcome<uint32_t> target =
            block_io::readUint(call.service(), id(ATT_I2C_DEVICE_ADDR), 1);
        if (!target.ok()) {
            return Found::failed(target.result);
        }
        previous = static_cast<int>(target.value());
    }
    std::vector<uint8_t> answered;
    AttributeResult done = block_io::ok();
    for (int address = first; address <= last && done.ok(); ++address) {
        const Outcome<bool> probed = answers(static_cast<uint8_t>(address));
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

}  // namespace korvane
