// Adc: a handle on one analogue channel of a Vanta board.
#ifndef KORVANE_ADC_H
#define KORVANE_ADC_H

#include <cstdint>

#include "Vanta.h"
#include "export.h"

namespace korvane {

class KORVANE_API Adc {
public:
    Adc(Vanta *board, uint8_t channel);
    // The channel value as a signed number; -1 for channel 8 and above or a
    // failed read.
    int value();

private:
    Vanta *board;
    uint8_t channel;
};

}  // namespace korvane

#endif
