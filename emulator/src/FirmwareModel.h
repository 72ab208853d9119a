// The firmware of one emulated device: its attribute blocks, plain attributes
// set from outside, and the answer it computes for each host report.
#ifndef KORVANE_EMU_FIRMWARE_MODEL_H
#define KORVANE_EMU_FIRMWARE_MODEL_H

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AdcBlock.h"
#include "CalibrationBlock.h"
#include "GpioBlock.h"
#include "I2cBridge.h"
#include "Protocol.h"
#include "ReadingBlock.h"

namespace emu {

class FirmwareModel {
public:
    // Null for a model name that is not one of korvane::kor_product::kAll (Products.h).
    static std::unique_ptr<FirmwareModel> create(const std::string &model,
                                                 const std::string &serial);

    // The answer to a well-formed or malformed request: every request gets
    // exactly one answer, failures as RC_FAIL with the opcode echoed.
    Report answer(const Request &request);

    // Control-side access: what a host read would get, and a set that also
    // reaches read-only attributes and makes unserved ids served.
    bool readAttribute(uint16_t attid, Bytes &out);
    bool setAttribute(uint16_t attid, const Bytes &value);
    void removeAttribute(uint16_t attid);

    // The blocks this model has, null for the others.
    GpioBlock *gpio() const { return gpioBlock; }
    AdcBlock *adc() const { return adcBlock; }
    I2cBridge *i2c() const { return i2cBridge; }
    CalibrationBlock *calibration() const { return calibrationBlock; }
    ReadingBlock *reading(uint16_t attid) const;

    const std::string &model() const { return modelName; }

    // The firmware's part of a device's record in the state file: each
    // block's state under its key, the attributes set from outside
    // ("attributes": {"0x9000": "hex bytes"}) and the removed ids.
    void saveState(json::Value &record) const;
    // Takes the members saveState writes from f (the others stay for the
    // caller); throws json::Error on a value it cannot take.
    void loadState(json::Fields &f);

private:
    FirmwareModel() = default;

    template <class B, class... Args>
    B *add(Args &&...args);
    AttributeBlock *blockFor(uint16_t attid) const;
    bool hostRead(uint16_t attid, Bytes &out);
    bool hostWrite(uint16_t attid, const Bytes &value);

    std::string modelName;
    std::vector<std::unique_ptr<AttributeBlock>> blocks;
    std::map<uint16_t, Bytes> plainAttributes;  // attributes set from outside
    std::set<uint16_t> removedAttributes;       // served no more until set again
    GpioBlock *gpioBlock = nullptr;
    AdcBlock *adcBlock = nullptr;
    I2cBridge *i2cBridge = nullptr;
    CalibrationBlock *calibrationBlock = nullptr;
    ReadingBlock *voltageReading = nullptr;
    ReadingBlock *currentReading = nullptr;
};

}  // namespace emu

#endif
