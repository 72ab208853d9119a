#include "Adc.h"

#include <cstring>

namespace korvane {

Adc::Adc(Vanta *board, uint8_t channel) : board(board), channel(channel) {}

int Adc::value() {
    if (board == nullptr) {
        return -1;
    }
    // The block's failure value 0xFFFFFFFF reads as -1 here.
    const uint32_t raw = board->adchw.analogRead(channel);
    int32_t signedValue;
    std::memcpy(&signedValue, &raw, sizeof signedValue);
    return signedValue;
}

}  // namespace korvane
