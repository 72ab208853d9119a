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

}  // namespace emu
