#include "Pin.h"

#include "CallGuard.h"

namespace {
const bool kFailed = true;
}

// A pin made without a mode leaves the board's configuration alone; the
// stored mode is then only a defined placeholder.
Pin::Pin(Vanta *board, uint8_t pin) : board(board), pin(pin), pinMode(OUTPUT_PIN) {}

Pin::Pin(Vanta *board, uint8_t pin, PinMode mode) : board(board), pin(pin), pinMode(mode) {
    this->mode(mode);
}

// The call lock of the board's connection also orders the stored mode
// between threads sharing this handle.
bool Pin::mode(PinMode mode) {
    CallGuard call(board == nullptr ? nullptr : board->link());
    pinMode = mode;
    return board == nullptr ? kFailed : board->gpiohw.pinMode(pin, mode);
}

bool Pin::value(bool level) {
    return board == nullptr ? kFailed : board->gpiohw.digitalWrite(pin, level);
}

// Also true when the level cannot be read, as for the block's digitalRead.
bool Pin::value() { return board == nullptr ? kFailed : board->gpiohw.digitalRead(pin); }

bool Pin::on() { return value(true); }

bool Pin::off() { return value(false); }
