#include "GpioHw.h"

#include <memory>

#include "BlockIo.h"

namespace {
const uint8_t kPins = 32;  // one bit per pin in a 32-bit mask

Attribute *newAttribute(int base, int offset) {
    return new Attribute(static_cast<uint16_t>(base + offset), PERMISSION_NONE, 0);
}

// Sets the cached mask (4 bytes, little-endian) and writes it to the device.
bool writeMask(KorService *service, Attribute *attribute, uint32_t mask) {
    attribute->setValue(mask);
    return block_io::write(service, *attribute);
}
}  // namespace

GpioHw::GpioHw(KorService *service, int base)
    : service(service), inoutMode(nullptr), pullUp(nullptr), pullDown(nullptr), levels(nullptr) {
    std::unique_ptr<Attribute> mode(newAttribute(base, ATT_GPIO_INOUT_MODE));
    std::unique_ptr<Attribute> up(newAttribute(base, ATT_GPIO_PULL_UP));
    std::unique_ptr<Attribute> down(newAttribute(base, ATT_GPIO_PULL_DOWN));
    std::unique_ptr<Attribute> rw(newAttribute(base, ATT_GPIO_RW));
    inoutMode = mode.release();
    pullUp = up.release();
    pullDown = down.release();
    levels = rw.release();
}

GpioHw::~GpioHw() {
    delete inoutMode;
    delete pullUp;
    delete pullDown;
    delete levels;
}

GpioHw::GpioHw(const GpioHw &other)
    : service(other.service), inoutMode(nullptr), pullUp(nullptr), pullDown(nullptr), levels(nullptr) {
    std::unique_ptr<Attribute> mode(new Attribute(*other.inoutMode));
    std::unique_ptr<Attribute> up(new Attribute(*other.pullUp));
    std::unique_ptr<Attribute> down(new Attribute(*other.pullDown));
    std::unique_ptr<Attribute> rw(new Attribute(*other.levels));
    inoutMode = mode.release();
    pullUp = up.release();
    pullDown = down.release();
    levels = rw.release();
}

// The target keeps its own attribute objects and takes the source's ids and
// values. The service pointer is copied too: after assigning a whole block,
// the target talks through the source's service.
GpioHw &GpioHw::operator=(const GpioHw &other) {
    service = other.service;
    *inoutMode = *other.inoutMode;
    *pullUp = *other.pullUp;
    *pullDown = *other.pullDown;
    *levels = *other.levels;
    return *this;
}

// Pull-up is written before the direction, so an input never floats with the
// wrong pull while it is being switched over.
bool GpioHw::pinMode(uint8_t pin, PinMode mode) {
    if (pin >= kPins) {
        return true;  // no such pin: nothing done is a failure
    }
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

bool GpioHw::write(uint32_t value) { return writeMask(service, levels, value); }

uint32_t GpioHw::read() {
    if (block_io::read(service, levels)) {
        return 0xFFFFFFFF;
    }
    return levels->getValueUint32();
}

bool GpioHw::digitalWrite(uint8_t pin, bool value) {
    if (pin >= kPins) {
        return true;
    }
    // A failed read still lets the write go on from the cached levels.
    block_io::read(service, levels);
    return writeMask(service, levels, block_io::withBit(levels->getValueUint32(), pin, value));
}

bool GpioHw::digitalRead(uint8_t pin) {
    if (pin >= kPins || block_io::read(service, levels)) {
        return true;
    }
    return (levels->getValueUint32() >> pin) & 1u;
}
