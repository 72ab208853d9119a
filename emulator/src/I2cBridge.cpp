#include "I2cBridge.h"

namespace emu {

// Data transfer widths in bytes: 1 moves the low byte of the register,
// 2 the whole register (low byte first), 3 the register and the low byte of
// the next one, 4 two consecutive registers. The register after 0xFF is 0x00.

bool I2cBridge::read(uint16_t attid, Bytes &out) {
    switch (offset(attid)) {
        case 0: out = {selectedAddress}; return true;
        case 1: out = {registerPointer}; return true;
        default: return readData(offset(attid) - 1, out);
    }
}

bool I2cBridge::write(uint16_t attid, const Bytes &value) {
    switch (offset(attid)) {
        case 0:
            if (value.size() != 1 || value[0] > kMaxAddress) {
                return false;
            }
            // Like on a real bus, an absent target shows only at transfer time.
            selectedAddress = value[0];
            return true;
        case 1:
            if (value.size() != 1) {
                return false;
            }
            registerPointer = value[0];
            return true;
        default: return writeData(offset(attid) - 1, value);
    }
}

bool I2cBridge::readData(unsigned width, Bytes &out) {
    RegisterFile *regs = target(selectedAddress);
    if (!regs) {
        return false;  // no acknowledge from the bus
    }
    out.clear();
    for (unsigned i = 0; i < width; ++i) {
        const uint16_t reg = (*regs)[uint8_t(registerPointer + i / 2)];
        out.push_back(i % 2 == 0 ? uint8_t(reg) : uint8_t(reg >> 8));
    }
    return true;
}

bool I2cBridge::writeData(unsigned width, const Bytes &value) {
    RegisterFile *regs = target(selectedAddress);
    if (!regs || value.size() != width) {
        return false;
    }
    for (unsigned i = 0; i < width; ++i) {
        uint16_t &reg = (*regs)[uint8_t(registerPointer + i / 2)];
        reg = i % 2 == 0 ? uint16_t((reg & 0xFF00) | value[i])
                         : uint16_t((reg & 0x00FF) | value[i] << 8);
    }
    return true;
}

bool I2cBridge::addTarget(uint8_t address) {
    if (address > kMaxAddress) {
        return false;
    }
    targetRegisters.emplace(address, RegisterFile{});
    return true;
}

bool I2cBridge::removeTarget(uint8_t address) { return targetRegisters.erase(address) > 0; }

I2cBridge::RegisterFile *I2cBridge::target(uint8_t address) {
    auto it = targetRegisters.find(address);
    return it == targetRegisters.end() ? nullptr : &it->second;
}

json::Value I2cBridge::saveState() const {
    json::Value targets = json::Value::object();
    for (const auto &[address, regs] : targetRegisters) {
        json::Value &registers = targets[json::hexKey(address, 2)] = json::Value::object();
        for (size_t reg = 0; reg < regs.size(); ++reg) {
            if (regs[reg]) {
                registers[json::hexKey(unsigned(reg), 2)] = regs[reg];
            }
        }
    }
    return json::Value{
        {"address", selectedAddress}, {"pointer", registerPointer}, {"targets", targets}};
}

void I2cBridge::loadState(const json::Value &state, const std::string &where) {
    json::Fields f(state, where);
    uint8_t address = selectedAddress;
    f.integer("address", address);
    if (address > kMaxAddress) {
        throw json::Error(f.at("address") + ": expected an integer from 0 to 127");
    }
    f.integer("pointer", registerPointer);
    selectedAddress = address;
    if (const json::Value *targets = f.get("targets")) {
        std::map<uint8_t, RegisterFile> loaded;
        const std::string at = f.at("targets");
        for (const auto &[key, registers] : json::object(*targets, at)) {
            RegisterFile &regs = loaded[uint8_t(json::parseHexKey(key, at, kMaxAddress))];
            regs.fill(0);
            const std::string regsAt = at + "." + key;
            for (const auto &[reg, value] : json::object(registers, regsAt)) {
                regs[json::parseHexKey(reg, regsAt, 0xFF)] =
                    uint16_t(json::integer(value, regsAt + "." + reg, 0, 0xFFFF));
            }
        }
        targetRegisters.swap(loaded);
    }
    f.finish();
}

}  // namespace emu
