#include "GpioBlock.h"

namespace emu {

bool GpioBlock::read(uint16_t attid, Bytes &out) {
    switch (offset(attid)) {
        case 0: out = le32(direction); break;
        case 1: out = le32(pullUp); break;
        case 2: out = le32(pullDown); break;
        default: out = le32(levels()); break;
    }
    return true;
}

bool GpioBlock::write(uint16_t attid, const Bytes &value) {
    if (!isMaskValue(value)) {
        return false;
    }
    const uint32_t mask = fromLe(value);
    switch (offset(attid)) {
        case 0: direction = mask; break;
        case 1: pullUp = mask; break;
        case 2: pullDown = mask; break;
        default: outputLatch = mask; break;  // input pins keep it for when they turn output
    }
    return true;
}

void GpioBlock::setExternal(uint32_t drivenMask, uint32_t levels) {
    externalMask = drivenMask;
    externalLevels = levels & drivenMask;
}

uint32_t GpioBlock::levels() const {
    const uint32_t inputs = direction;
    const uint32_t inputLevels = (externalLevels & externalMask) | (pullUp & ~externalMask);
    return (outputLatch & ~inputs) | (inputLevels & inputs);
}

json::Value GpioBlock::saveState() const {
    return json::Value{{"direction", direction},        {"pull_up", pullUp},
                       {"pull_down", pullDown},         {"output", outputLatch},
                       {"external_mask", externalMask}, {"external_levels", externalLevels}};
}

void GpioBlock::loadState(const json::Value &state, const std::string &where) {
    json::Fields f(state, where);
    f.integer("direction", direction);
    f.integer("pull_up", pullUp);
    f.integer("pull_down", pullDown);
    f.integer("output", outputLatch);
    uint32_t mask = externalMask, levels = externalLevels;
    f.integer("external_mask", mask);
    f.integer("external_levels", levels);
    f.finish();
    setExternal(mask, levels);
}

}  // namespace emu
