#include "GpioBlock.h"

namespace emu {

bool GpioBlock::read(uint16_t attid, Bytes &out) {
    switch (offset(attid)) {
        case 0: out = le32(direction_); break;
        case 1: out = le32(pullUp_); break;
        case 2: out = le32(pullDown_); break;
        default: out = le32(levels()); break;
    }
    return true;
}

bool GpioBlock::write(uint16_t attid, const Bytes &value) {
    if (!isMaskValue(value))
        return false;
    const uint32_t mask = fromLe(value);
    switch (offset(attid)) {
        case 0: direction_ = mask; break;
        case 1: pullUp_ = mask; break;
        case 2: pullDown_ = mask; break;
        default: outputLatch_ = mask; break;  // input pins keep it for when they turn output
    }
    return true;
}

void GpioBlock::setExternal(uint32_t drivenMask, uint32_t levels) {
    externalMask_ = drivenMask;
    externalLevels_ = levels & drivenMask;
}

uint32_t GpioBlock::levels() const {
    const uint32_t inputs = direction_;
    const uint32_t inputLevels = (externalLevels_ & externalMask_) | (pullUp_ & ~externalMask_);
    return (outputLatch_ & ~inputs) | (inputLevels & inputs);
}

json::Value GpioBlock::saveState() const {
    return json::Value{{"direction", direction_},        {"pull_up", pullUp_},
                       {"pull_down", pullDown_},         {"output", outputLatch_},
                       {"external_mask", externalMask_}, {"external_levels", externalLevels_}};
}

void GpioBlock::loadState(const json::Value &state, const std::string &where) {
    json::Fields f(state, where);
    f.integer("direction", direction_);
    f.integer("pull_up", pullUp_);
    f.integer("pull_down", pullDown_);
    f.integer("output", outputLatch_);
    uint32_t mask = externalMask_, levels = externalLevels_;
    f.integer("external_mask", mask);
    f.integer("external_levels", levels);
    f.finish();
    setExternal(mask, levels);
}

}  // namespace emu
