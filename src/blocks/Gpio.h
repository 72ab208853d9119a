// Gpio: a device's GPIO block, 32 pins in four 32-bit masks (direction,
// pull-up, pull-down, level) at attribute ids from a base.
#ifndef KORVANE_GPIO_H
#define KORVANE_GPIO_H

#include <cstdint>
#include <memory>

#include "AttributeStatus.h"
#include "KorService.h"
#include "export.h"

namespace korvane {

// What a block reaches its service through (see ServiceAnchor.h).
class ServiceAnchor;

class KORVANE_API Gpio {
public:
    // A block made without a service fails every call as not open.
    Gpio(KorService *service, int base);

    // Each call says how it ended (see AttributeStatus.h). Pins 0-31: any
    // other number is BadArgument, never another pin.
    // How the pin is set up now, read from the device.
    Outcome<PinMode> mode(int pin);
    // Sets the pin up; a step that fails puts the masks written before it
    // back.
    AttributeResult mode(int pin, PinMode mode);
    Outcome<bool> read(int pin);
    Outcome<uint32_t> levels();
    // Sets one output pin's level and changes no other pin's; an input pin
    // is BadArgument.
    AttributeResult write(int pin, bool high);
    AttributeResult writeLevels(uint32_t mask);

    // What the block reaches its service through (null for a block made
    // without a service).
    const std::shared_ptr<ServiceAnchor> &anchor() const { return serviceAnchor; }

private:
    Outcome<uint32_t> readMask(int which);
    AttributeResult writeMask(int which, uint32_t mask);

    std::shared_ptr<ServiceAnchor> serviceAnchor;
    int firstId;
    // The output levels this block wrote last (0 before any write): what
    // write() writes back for the input pins, whose own latches the device
    // does not report.
    uint32_t outputsWritten = 0;
};

}  // namespace korvane

#endif
