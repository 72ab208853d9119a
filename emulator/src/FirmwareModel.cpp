#include "FirmwareModel.h"

#include "IdentityBlock.h"
#include "PortControlBlock.h"
#include "Products.h"

namespace emu {

namespace {
constexpr uint16_t kGpioBase = 0x1200;
constexpr uint16_t kAdcBase = 0x1300;
constexpr uint16_t kI2cBase = 0x1400;
constexpr uint16_t kPortControl = 0x8000;
constexpr uint16_t kCalibration = 0x8100;
constexpr uint16_t kVoltage = 0x8101;
constexpr uint16_t kCurrent = 0x8102;

// The meter's power monitor at 0x40: configuration, shunt voltage, bus
// voltage (1.25 mV steps: 5.0 V), power, current, calibration, then zeros;
// register 0xFF holds the die id.
void fillPowerMonitor(I2cBridge::RegisterFile &regs) {
    const uint16_t initial[] = {0x4127, 0x0271, 0x0FA0, 0x00FA, 0x09C4, 0x0A00};
    for (size_t i = 0; i < sizeof initial / sizeof initial[0]; ++i) {
        regs[i] = initial[i];
    }
    regs[0xFF] = 0x2260;
}
}  // namespace

template <class B, class... Args>
B *FirmwareModel::add(Args &&...args) {
    auto block = std::make_unique<B>(std::forward<Args>(args)...);
    B *raw = block.get();
    blocks.push_back(std::move(block));
    return raw;
}

std::unique_ptr<FirmwareModel> FirmwareModel::create(const std::string &model,
                                                     const std::string &serial) {
    if (model != korvane::kor_product::kVanta && model != korvane::kor_product::kBrondel &&
        model != korvane::kor_product::kDmm) {
        return nullptr;
    }
    std::unique_ptr<FirmwareModel> fw(new FirmwareModel);
    fw->modelName = model;
    fw->add<IdentityBlock>(model, serial);
    if (model == korvane::kor_product::kVanta) {
        fw->gpioBlock = fw->add<GpioBlock>(kGpioBase);
        fw->adcBlock = fw->add<AdcBlock>(kAdcBase);
        fw->i2cBridge = fw->add<I2cBridge>(kI2cBase);
        fw->i2cBridge->addTarget(I2cBridge::kDefaultAddress);  // a plain register file, all zeros
    } else if (model == korvane::kor_product::kBrondel) {
        fw->add<PortControlBlock>(kPortControl);
        fw->gpioBlock = fw->add<GpioBlock>(kGpioBase);
    } else {
        fw->calibrationBlock = fw->add<CalibrationBlock>(kCalibration);
        fw->voltageReading = fw->add<ReadingBlock>(kVoltage, 5.0f, "voltage");
        fw->currentReading = fw->add<ReadingBlock>(kCurrent, 0.25f, "current");
        fw->i2cBridge = fw->add<I2cBridge>(kI2cBase);
        fw->i2cBridge->addTarget(I2cBridge::kDefaultAddress);
        fillPowerMonitor(*fw->i2cBridge->target(I2cBridge::kDefaultAddress));
    }
    return fw;
}

Report FirmwareModel::answer(const Request &request) {
    if (!request.wellFormed) {
        return statusAnswer(request.opcode, false);
    }
    if (request.opcode == kOpValueSet) {
        return statusAnswer(kOpValueSet, hostWrite(request.attid, request.value));
    }
    Bytes value;
    if (!hostRead(request.attid, value) || value.size() > kMaxAnswerValue) {
        return statusAnswer(kOpValueGet, false);
    }
    return readAnswer(value);
}

bool FirmwareModel::readAttribute(uint16_t attid, Bytes &out) {
    return hostRead(attid, out) && out.size() <= kMaxAnswerValue;
}

bool FirmwareModel::setAttribute(uint16_t attid, const Bytes &value) {
    if (value.size() > kMaxAnswerValue) {
        return false;
    }
    if (AttributeBlock *block = blockFor(attid)) {
        if (!block->set(attid, value)) {
            return false;
        }
    } else {
        plainAttributes[attid] = value;
    }
    removedAttributes.erase(attid);
    return true;
}

void FirmwareModel::removeAttribute(uint16_t attid) {
    plainAttributes.erase(attid);
    removedAttributes.insert(attid);
}

ReadingBlock *FirmwareModel::reading(uint16_t attid) const {
    if (attid == kVoltage) {
        return voltageReading;
    }
    if (attid == kCurrent) {
        return currentReading;
    }
    return nullptr;
}

AttributeBlock *FirmwareModel::blockFor(uint16_t attid) const {
    for (const auto &block : blocks) {
        if (block->serves(attid)) {
            return block.get();
        }
    }
    return nullptr;
}

bool FirmwareModel::hostRead(uint16_t attid, Bytes &out) {
    if (removedAttributes.count(attid)) {
        return false;
    }
    if (AttributeBlock *block = blockFor(attid)) {
        return block->read(attid, out);
    }
    auto it = plainAttributes.find(attid);
    if (it == plainAttributes.end()) {
        return false;
    }
    out = it->second;
    return true;
}

bool FirmwareModel::hostWrite(uint16_t attid, const Bytes &value) {
    if (removedAttributes.count(attid)) {
        return false;
    }
    if (AttributeBlock *block = blockFor(attid)) {
        return block->write(attid, value);
    }
    auto it = plainAttributes.find(attid);
    if (it == plainAttributes.end()) {
        return false;
    }
    it->second = value;  // attributes set from outside are read-write
    return true;
}

void FirmwareModel::saveState(json::Value &record) const {
    for (const auto &block : blocks) {
        if (!block->stateKey().empty()) {
            record[block->stateKey()] = block->saveState();
        }
    }
    json::Value &plain = record["attributes"] = json::Value::object();
    for (const auto &[attid, value] : plainAttributes) {
        plain[json::hexKey(attid, 4)] = json::hexBytes(value);
    }
    json::Value &removed = record["removed"] = json::Value::array();
    for (uint16_t attid : removedAttributes) {
        removed.push_back(json::hexKey(attid, 4));
    }
}

void FirmwareModel::loadState(json::Fields &f) {
    for (const auto &block : blocks) {
        const std::string key = block->stateKey();
        if (const json::Value *state = key.empty() ? nullptr : f.get(key)) {
            block->loadState(*state, f.at(key));
        }
    }
    if (const json::Value *plain = f.get("attributes")) {
        const std::string at = f.at("attributes");
        std::map<uint16_t, Bytes> loaded;
        for (const auto &[key, value] : json::object(*plain, at)) {
            const uint16_t attid = uint16_t(json::parseHexKey(key, at, 0xFFFF));
            if (blockFor(attid)) {
                throw json::Error(at + "." + key + ": the " + modelName +
                                  " serves this attribute itself");
            }
            loaded[attid] = json::parseHexBytes(json::text(value, at + "." + key), at + "." + key);
            if (loaded[attid].size() > kMaxAnswerValue) {
                throw json::Error(at + "." + key + ": longer than " +
                                  std::to_string(kMaxAnswerValue) + " bytes");
            }
        }
        plainAttributes.swap(loaded);
    }
    if (const json::Value *removed = f.get("removed")) {
        const std::string at = f.at("removed");
        std::set<uint16_t> loaded;
        for (const json::Value &id : json::array(*removed, at)) {
            loaded.insert(uint16_t(json::parseHexKey(json::text(id, at), at, 0xFFFF)));
        }
        removedAttributes.swap(loaded);
    }
}

}  // namespace emu
