#include "GpioHw.h"

#include <utility>

#include "BlockIo.h"

namespace korvane {

namespace {
const uint8_t kPins = 32;
const bool kFailed = true;

// The block's attributes by value: ids base, base + 1, ... base + N - 1.
template <std::size_t... Index>
std::array<Attribute, sizeof...(Index)> attributesFrom(int base, std::index_sequence<Index...>) {
    return {
        {Attribute(static_cast<uint16_t>(base + static_cast<int>(Index)), PERMISSION_NONE, 0)...}};
}
}  // namespace

GpioHw::GpioHw(KorService *service, int base)
    : gpio(service, base),
      attributes(attributesFrom(base, std::make_index_sequence<kAttributes>{})) {}

GpioHw::~GpioHw() = default;

AttributeResult GpioHw::readCached(int which) {
    block_io::BlockCall call(gpio.anchor());
    return call.service() == nullptr ? block_io::notOpen()
                                     : call.service()->read(attributes[which]);
}

AttributeResult GpioHw::writeCached(int which, uint32_t mask) {
    block_io::BlockCall call(gpio.anchor());
    attributes[which].setValue(mask);
    return call.service() == nullptr ? block_io::notOpen()
                                     : call.service()->write(attributes[which]);
}

// The module's own mode change: the direction and pull-up masks read over
// their cached values, the pull-up written before the direction, nothing put
// back when a step fails, and no pull-down: a mode other than output, input
// and input with pull-up is refused once the pull-up mask has been read.
bool GpioHw::pinMode(uint8_t pin, PinMode mode) {
    if (pin >= kPins) {
        return kFailed;  // no such pin: nothing done is a failure
    }
    block_io::BlockCall call(gpio.anchor());
    if (!readCached(ATT_GPIO_INOUT_MODE).ok()) {
        return kFailed;
    }
    const bool input = mode != OUTPUT_PIN;
    if (input) {
        if (!readCached(ATT_GPIO_PULL_UP).ok() || (mode != INPUT_PIN && mode != INPUT_PULLUP_PIN)) {
            return kFailed;
        }
        const uint32_t pullUps = attributes[ATT_GPIO_PULL_UP].getValueUint32();
        if (!writeCached(ATT_GPIO_PULL_UP,
                         block_io::withBit(pullUps, pin, mode == INPUT_PULLUP_PIN))
                 .ok()) {
            return kFailed;
        }
    }
    const uint32_t direction = attributes[ATT_GPIO_INOUT_MODE].getValueUint32();
    return !writeCached(ATT_GPIO_INOUT_MODE, block_io::withBit(direction, pin, input)).ok();
}

// The levels are kept as written, for digitalWrite to start from.
bool GpioHw::write(uint32_t value) {
    block_io::BlockCall call(gpio.anchor());
    attributes[ATT_GPIO_RW].setValue(value);
    return !gpio.writeLevels(value).ok();
}

// The levels as the answer left them in the cache; 0xFFFFFFFF when the read
// failed.
uint32_t GpioHw::read() {
    block_io::BlockCall call(gpio.anchor());
    return readCached(ATT_GPIO_RW).ok() ? attributes[ATT_GPIO_RW].getValueUint32() : 0xFFFFFFFF;
}

// The levels are read over the cache and written back with the pin's bit
// changed; a failed read lets the write go on from the cached levels, input
// pins' levels included.
bool GpioHw::digitalWrite(uint8_t pin, bool value) {
    if (pin >= kPins) {
        return kFailed;
    }
    block_io::BlockCall call(gpio.anchor());
    static_cast<void>(readCached(ATT_GPIO_RW));
    const uint32_t levels = attributes[ATT_GPIO_RW].getValueUint32();
    return !writeCached(ATT_GPIO_RW, block_io::withBit(levels, pin, value)).ok();
}

// Also true when the level cannot be read.
bool GpioHw::digitalRead(uint8_t pin) {
    if (pin >= kPins) {
        return kFailed;
    }
    block_io::BlockCall call(gpio.anchor());
    return !readCached(ATT_GPIO_RW).ok() ||
           ((attributes[ATT_GPIO_RW].getValueUint32() >> pin) & 1u) != 0;
}

}  // namespace korvane
