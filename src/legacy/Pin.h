// Pin: a handle on one GPIO pin of a Vanta board.
#ifndef KORVANE_PIN_H
#define KORVANE_PIN_H

#include <cstdint>

#include "Vanta.h"
#include "export.h"

namespace korvane {

class KORVANE_API Pin {
public:
    Pin(Vanta *board, uint8_t pin);
    Pin(Vanta *board, uint8_t pin, PinMode mode);
    bool mode(PinMode mode);
    bool value(bool level);
    bool value();
    bool on();
    bool off();

private:
    Vanta *board;
    uint8_t pin;
};

}  // namespace korvane

#endif
