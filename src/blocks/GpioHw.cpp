#include "GpioHw.h"

#include "BlockIo.h"

namespace {
const uint8_t kPins = 32;  // one bit per pin in a 32-bit mask

// Sets the cached mask (4 bytes, little-endian) and writes it to the device.
bool writeMask(KorService *service, Attribute *attribute, uint32_t mask) {
    attribute->setValue(mask);
    return block_io::write(service, *attribute);
}
}  // namespace

GpioHw::GpioHw(KorService *service, int base)
    : service(service), attributes(block_io::attributesFrom<kAttributes>(base)) {}

GpioHw::~GpioHw() = default;

// Pull-up is written before the direction, so an input never floats with the
// wrong pull while it is being switched over.
bool GpioHw::pinMode(uint8_t pin, PinMode mode) {
    if (pin >= kPins) {
        return true;  // no such pin: nothing done is a failure
    }
    // The whole read-modify-write holds the call lock, so another thread's
    // change to another pin is not lost in between.
    CallGuard call(link());
    Attribute *inoutMode = &attributes[ATT_GPIO_INOUT_MODE];
    Attribute *pullUp = &attributes[ATT_GPIO_PULL_UP];
    if (block_io::read(service, inoutMode)) {
        return true;
    }
    const bool input = mode != OUTPUT_PIN;
    if (input) {
        if (block_io::read(service, pullUp)) {
            return true;
        }
        if (mode != INPUT_PIN && mode != INPUT_PULLUP_PIN) {
            return true;  // pull-down is not offered
        }
        const uint32_t pulls = block_io::withBit(pullUp->getValueUint32(), pin, mode == INPUT_PULLUP_PIN);
        if (writeMask(service, pullUp, pulls)) {
            return true;
        }
    }
    return writeMask(service, inoutMode, block_io::withBit(inoutMode->getValueUint32(), pin, input));
}

bool GpioHw::write(uint32_t value) {
    CallGuard call(link());
    return writeMask(service, &attributes[ATT_GPIO_RW], value);
}

uint32_t GpioHw::read() {
    CallGuard call(link());
    Attribute *levels = &attributes[ATT_GPIO_RW];
    if (block_io::read(service, levels)) {
        return 0xFFFFFFFF;
    }
    return levels->getValueUint32();
}

bool GpioHw::digitalWrite(uint8_t pin, bool value) {
    if (pin >= kPins) {
        return true;
    }
    CallGuard call(link());
    Attribute *levels = &attributes[ATT_GPIO_RW];
    // A failed read still lets the write go on from the cached levels.
    block_io::read(service, levels);
    return writeMask(service, levels, block_io::withBit(levels->getValueUint32(), pin, value));
}

bool GpioHw::digitalRead(uint8_t pin) {
    CallGuard call(link());
    Attribute *levels = &attributes[ATT_GPIO_RW];
    if (pin >= kPins || block_io::read(service, levels)) {
        return true;
    }
    return (levels->getValueUint32() >> pin) & 1u;
}
