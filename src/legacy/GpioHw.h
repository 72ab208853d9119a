// GpioHw: the korvane module's GPIO block, an adapter over Gpio that keeps
// the module's behaviour: calls that say only "failed" (true), and the four
// masks kept as attributes that reads fill and writes start from.
#ifndef KORVANE_GPIOHW_H
#define KORVANE_GPIOHW_H

#include <array>
#include <cstdint>
#include <memory>

#include "Attribute.h"
#include "Gpio.h"
#include "KorService.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

class KORVANE_API GpioHw {
public:
    GpioHw(KorService *service, int base);
    ~GpioHw();

#ifndef SWIG
    // What the block reaches its service through (see ServiceAnchor.h).
    const std::shared_ptr<ServiceAnchor> &anchor() const { return gpio.anchor(); }
#endif
    // Copies (and assignments) take the source's service, attribute ids and
    // values into attributes of their own: a whole block.

    bool pinMode(uint8_t pin, PinMode mode);
    bool write(uint32_t value);
    uint32_t read();
    bool digitalWrite(uint8_t pin, bool value);
    bool digitalRead(uint8_t pin);

private:
    static const int kAttributes = ATT_GPIO_RW + 1;

    // A mask read into its attribute, a value of any length over the
    // attribute's leading bytes.
    AttributeResult readCached(int which);
    // The attribute takes mask, then it is written.
    AttributeResult writeCached(int which, uint32_t mask);

    Gpio gpio;
    // Indexed by AttGpioHw: direction, pull-up, pull-down and level masks.
    std::array<Attribute, kAttributes> attributes;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
