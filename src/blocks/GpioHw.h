// GpioHw: a device's GPIO block, four 32-bit mask attributes from a base id.
#ifndef KORVANE_GPIOHW_H
#define KORVANE_GPIOHW_H

#include <array>
#include <cstdint>
#include <memory>

#include "Attribute.h"
#include "KorService.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

// What a block reaches its service through (see ServiceAnchor.h).
class ServiceAnchor;

class KORVANE_API GpioHw {
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
    // with pull-down offered. Pins 0-31: any other number is BadArgument,
    // never another pin.
    AttributeResult setMode(int pin, PinMode mode);
    // How the pin is set up now, read from the device.
    Outcome<PinMode> mode(int pin);
    Outcome<bool> level(int pin);
    Outcome<uint32_t> levels();
    AttributeResult setLevel(int pin, bool high);
    AttributeResult setLevels(uint32_t mask);
#endif

private:
    static const int kAttributes = ATT_GPIO_RW + 1;

    // The work of pinMode and setMode (withPullDown) after their argument
    // checks; pinMode reads over the cached masks, setMode exact masks.
    AttributeResult applyMode(uint8_t pin, PinMode mode, bool withPullDown);
    // The work of digitalWrite, over the cached levels.
    AttributeResult applyLevel(uint8_t pin, bool high);
    // A mask read into its attribute: exactly 4 bytes, or over the cache.
    Outcome<uint32_t> readMask(int which, bool exact);

    std::shared_ptr<ServiceAnchor> serviceAnchor;
    // Indexed by AttGpioHw: direction, pull-up, pull-down and level masks.
    std::array<Attribute, kAttributes> attributes;
    // The output levels this block wrote last (0 before any write): what
    // setLevel writes back for the input pins, whose own latches the device
    // does not report.
    uint32_t outputsWritten = 0;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
