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

GpioHw::GpioHw(KorService *service, int base) : service(service), attributes{} {
    block_io::makeOwned(attributes, base);
}

GpioHw::~GpioHw() { block_io::deleteOwned(attributes); }

GpioHw::GpioHw(const GpioHw &other) : service(other.service), attributes{} {
    block_io::copyOwned(attributes, other.attributes);
}

// The target keeps its own attribute objects and takes the source's ids and
// values. The service pointer is copied too: after assigning a whole block,
// the target talks through the source's service.
GpioHw &GpioHw::operator=(const GpioHw &other) {
    service = other.service;
    block_io::assignOwned(attributes, other.attributes);
    return *this;
}

// Pull-up is written before the direction, so an input never floats with the
// wrong pull while it is being switched over.
bool GpioHw::pinMode(uint8_t pin, PinMode mode) {
    if (pin >= kPins) {
        return true;  // no such pin: nothing done is a failure
    }
    Attribute *inoutMode = attributes[ATT_GPIO_INOUT_MODE];
    Attribute *pullUp = attributes[ATT_GPIO_PULL_UP];
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

bool GpioHw::write(uint32_t value) { return writeMask(service, attributes[ATT_GPIO_RW], value); }

uint32_t GpioHw::read() {
    Attribute *levels = attributes[ATT_GPIO_RW];
    if (block_io::read(service, levels)) {
        return 0xFFFFFFFF;
    }
    return levels->getValueUint32();
}

bool GpioHw::digitalWrite(uint8_t pin, bool value) {
    if (pin >= kPins) {
        return true;
    }
    Attribute *levels = attributes[ATT_GPIO_RW];
    // A failed read still lets the write go on from the cached levels.
    block_io::read(service, levels);
    return writeMask(service, levels, block_io::withBit(levels->getValueUint32(), pin, value));
}

bool GpioHw::digitalRead(uint8_t pin) {
    Attribute *levels = attributes[ATT_GPIO_RW];
    if (pin >= kPins || block_io::read(service, levels)) {
        return true;
    }
    return (levels->getValueUint32() >> pin) & 1u;
}
