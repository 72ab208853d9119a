#include "MeterBlocks.h"

#include <cmath>

namespace emu {

bool CalibrationBlock::read(uint16_t, Bytes &out) {
    out.assign(offsets_.begin(), offsets_.end());
    return true;
}

bool CalibrationBlock::write(uint16_t, const Bytes &value) {
    if (value != Bytes{0, 0, 0, 0})
        return false;
    ++runs_;
    offsets_ = {0, 0, 0, 0};  // the emulated front end has no offset to find
    return true;
}

bool CalibrationBlock::set(uint16_t, const Bytes &value) {
    if (value.size() != offsets_.size())
        return false;
    for (size_t i = 0; i < offsets_.size(); ++i)
        offsets_[i] = int8_t(value[i]);
    return true;
}

bool ReadingBlock::read(uint16_t, Bytes &out) {
    float value = base_;
    if (amplitude_ != 0.0f && periodMs_ > 0) {
        const double t = std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
        const double twoPi = 6.283185307179586;
        value = float(base_ + amplitude_ * std::sin(twoPi * t / periodMs_));
    }
    out = floatLe(value);
    return true;
}

bool ReadingBlock::set(uint16_t, const Bytes &value) {
    if (value.size() != 4)
        return false;
    setVariation(floatFromLe(value), 0.0f, 0);
    return true;
}

void ReadingBlock::setVariation(float base, float amplitude, int periodMs) {
    base_ = base;
    amplitude_ = amplitude;
    periodMs_ = periodMs;
    start_ = Clock::now();
}

json::Value CalibrationBlock::saveState() const {
    json::Value offsets = json::Value::array();
    for (int8_t offset : offsets_)
        offsets.push_back(offset);
    return json::Value{{"offsets", offsets}, {"runs", runs_}};
}

void CalibrationBlock::loadState(const json::Value &state, const std::string &where) {
    json::Fields f(state, where);
    if (const json::Value *offsets = f.get("offsets")) {
        const std::string at = f.at("offsets");
        const auto &values = json::array(*offsets, at);
        if (values.size() != offsets_.size())
            throw json::Error(at + ": expected four offsets");
        for (size_t i = 0; i < values.size(); ++i)
            offsets_[i] =
                int8_t(json::integer(values[i], at + "[" + std::to_string(i) + "]", -128, 127));
    }
    f.integer("runs", runs_);
    if (runs_ < 0)
        throw json::Error(f.at("runs") + ": expected a count");
    f.finish();
}

namespace {
// JSON has no infinities or NaN: those readings are kept as text.
json::Value reading(float value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    return json::single(value);
}

float reading(const json::Value &v, const std::string &where) {
    if (v.is_string()) {
        const std::string &text = v.get_ref<const std::string &>();
        if (text == "nan")
            return std::nanf("");
        if (text == "inf" || text == "-inf")
            return text == "inf" ? HUGE_VALF : -HUGE_VALF;
    }
    if (!v.is_number())
        throw json::Error(where + ": expected a number (or \"nan\", \"inf\", \"-inf\")");
    return json::singleOf(v, where);
}
}  // namespace

json::Value ReadingBlock::saveState() const {
    return json::Value{
        {"base", reading(base_)}, {"amplitude", reading(amplitude_)}, {"period_ms", periodMs_}};
}

void ReadingBlock::loadState(const json::Value &state, const std::string &where) {
    json::Fields f(state, where);
    float base = base_, amplitude = amplitude_;
    int periodMs = periodMs_;
    if (const json::Value *v = f.get("base"))
        base = reading(*v, f.at("base"));
    if (const json::Value *v = f.get("amplitude"))
        amplitude = reading(*v, f.at("amplitude"));
    f.integer("period_ms", periodMs);
    if (periodMs < 0)
        throw json::Error(f.at("period_ms") + ": expected a period of 0 ms or more");
    f.finish();
    setVariation(base, amplitude, periodMs);
}

}  // namespace emu
