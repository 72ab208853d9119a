// GpioHw: a device's GPIO block, four 32-bit mask attributes from a base id.
#ifndef KORVANE_GPIOHW_H
#define KORVANE_GPIOHW_H

#include <array>
#include <cstdint>
#include <memory>

#include "Attribute.h"
#include "KorService.h"
#include "ServiceAnchor.h"

class GpioHw {
public:
    GpioHw(KorService *service, int base);
    ~GpioHw();
    // Copies (and assignments) take the source's service, attribute ids and
    // values into attributes of their own: a whole block.

#ifndef SWIG
    // What the block reaches its service through (see ServiceAnchor.h); null
    // for a block made without a service.
    const std::shared_ptr<ServiceAnchor> &anchor() const { return serviceAnchor; }
#endif

    bool pinMode(uint8_t pin, PinMode mode);
    bool write(uint32_t value);
    uint32_t read();
    bool digitalWrite(uint8_t pin, bool value);
    bool digitalRead(uint8_t pin);

#ifndef SWIG
    // The same abilities, each saying how it ended (see AttributeStatus.h),
    // with pull-down offered. Pins 0-31.
    AttributeResult setMode(uint8_t pin, PinMode mode);
    Outcome<bool> level(uint8_t pin);
    Outcome<uint32_t> levels();
    AttributeResult setLevel(uint8_t pin, bool high);
    AttributeResult setLevels(uint32_t mask);
#endif

private:
    static const int kAttributes = ATT_GPIO_RW + 1;

    // The work of pinMode and setMode (withPullDown), and of digitalWrite and
    // setLevel (stopOnFailedRead), after their argument checks; pinMode and
    // digitalWrite read over the cached masks, the others exact masks.
    AttributeResult applyMode(uint8_t pin, PinMode mode, bool withPullDown);
    AttributeResult applyLevel(uint8_t pin, bool high, bool stopOnFailedRead);
    // A mask read into its attribute: exactly 4 bytes, or over the cache.
    Outcome<uint32_t> readMask(int which, bool exact);

    std::shared_ptr<ServiceAnchor> serviceAnchor;
    // Indexed by AttGpioHw: direction, pull-up, pull-down and level masks.
    std::array<Attribute, kAttributes> attributes;
};

#endif
