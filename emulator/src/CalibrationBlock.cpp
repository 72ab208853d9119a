#include "CalibrationBlock.h"

namespace emu {

bool CalibrationBlock::read(uint16_t, Bytes &out) {
    out.assign(frontEndOffsets.begin(), frontEndOffsets.end());
    return true;
}

bool CalibrationBlock::write(uint16_t, const Bytes &value) {
    if (value != Bytes{0, 0, 0, 0}) {
        return false;
    }
    ++runCount;
    frontEndOffsets = {0, 0, 0, 0};  // the emulated front end has no offset to find
    return true;
}

bool CalibrationBlock::set(uint16_t, const Bytes &value) {
    if (value.size() != frontEndOffsets.size()) {
        return false;
    }
    for (size_t i = 0; i < frontEndOffsets.size(); ++i) {
        frontEndOffsets[i] = int8_t(value[i]);
    }
    return true;
}

json::Value CalibrationBlock::saveState() const {
    json::Value offsets = json::Value::array();
    for (int8_t offset : frontEndOffsets) {
        offsets.push_back(offset);
    }
    return json::Value{{"offsets", offsets}, {"runs", runCount}};
}

void CalibrationBlock::loadState(const json::Value &state, const std::string &where) {
    json::Fields f(state, where);
    if (const json::Value *offsets = f.get("offsets")) {
        const std::string at = f.at("offsets");
        const auto &values = json::array(*offsets, at);
        if (values.size() != frontEndOffsets.size()) {
            throw json::Error(at + ": expected four offsets");
        }
        for (size_t i = 0; i < values.size(); ++i) {
            frontEndOffsets[i] =
                int8_t(json::integer(values[i], at + "[" + std::to_string(i) + "]", -128, 127));
        }
    }
    f.integer("runs", runCount);
    if (runCount < 0) {
        throw json::Error(f.at("runs") + ": expected a count");
    }
    f.finish();
}

}  // namespace emu
