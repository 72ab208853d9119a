#include "Pin.h"

namespace korvane {

namespace {
const bool kFailed = true;
}

// A pin made without a mode leaves the board's configuration alone.
Pin::Pin(Vanta *board, uint8_t pin) : board(board), pin(pin) {}

Pin::Pin(Vanta *board, uint8_t pin, PinMode mode) : board(board), pin(pin) { this->mode(mode); }

bool Pin::mode(PinMode mode) {
    return board == nullptr ? kFailed : board->gpiohw.pinMode(pin, mode);
}

bool Pin::value(bool level) {
    return board == nullptr ? kFailed : board->gpiohw.digitalWrite(pin, level);
}

// Also true when the level cannot be read, as for the block's digitalRead.
bool Pin::value() { return board == nullptr ? kFailed : board->gpiohw.digitalRead(pin); }

bool Pin::on() { return value(true); }

bool Pin::off() { return value(false); }

}  // namespace korvane
