#include "Gpio.h"

#include <array>
#include <utility>

#include "BlockIo.h"

namespace korvane {

namespace {
const int kPins = 32;          // one bit per pin in a 32-bit mask
const uint8_t kMaskBytes = 4;  // masks travel as 4 bytes, least significant first

bool isPin(int pin) { return pin >= 0 && pin < kPins; }
bool bitOf(uint32_t mask, int pin) { return ((mask >> pin) & 1u) != 0; }
}  // namespace

Gpio::Gpio(KorService *service, int base)
    : serviceAnchor(block_io::anchorOf(service)), firstId(base) {}

// One transaction (which takes the call lock itself): the lease only keeps
// the service alive.
Outcome<uint32_t> Gpio::readMask(int which) {
    const ServiceLease lease(serviceAnchor);
    return block_io::readUint(lease.service(), static_cast<uint16_t>(firstId + which), kMaskBytes);
}

AttributeResult Gpio::writeMask(int which, uint32_t mask) {
    const ServiceLease lease(serviceAnchor);
    return block_io::writeUint(lease.service(), static_cast<uint16_t>(firstId + which), mask,
                               kMaskBytes);
}

Outcome<PinMode> Gpio::mode(int pin) {
    if (!isPin(pin)) {
        return Outcome<PinMode>::failed(block_io::badArgument());
    }
    block_io::BlockCall call(serviceAnchor);
    bool set[3] = {};
    for (int which : {ATT_GPIO_INOUT_MODE, ATT_GPIO_PULL_UP, ATT_GPIO_PULL_DOWN}) {
        const Outcome<uint32_t> read = readMask(which);
        if (!read.ok()) {
            return Outcome<PinMode>::failed(read.result);
        }
        set[which] = bitOf(read.value(), pin);
    }
    const PinMode now = !set[ATT_GPIO_INOUT_MODE] ? OUTPUT_PIN
                        : set[ATT_GPIO_PULL_UP]   ? INPUT_PULLUP_PIN
                        : set[ATT_GPIO_PULL_DOWN] ? INPUT_PULLDOWN_PIN
                                                  : INPUT_PIN;
    return Outcome<PinMode>{block_io::ok(), now};
}

// Pulls are written before the direction, so an input never floats with the
// wrong pull while it is being switched over: the pull-up mask, then the
// pull-down mask, each pin's bit set for its own pull only. The whole
// read-modify-write holds the call lock, so another thread's change to
// another pin is not lost in between. A step that fails puts the masks
// written before it back, newest first, so the pin keeps its old
// configuration rather than half of the new one.
AttributeResult Gpio::mode(int pin, PinMode mode) {
    if (!isPin(pin) || mode < OUTPUT_PIN || mode > INPUT_PULLDOWN_PIN) {
        return block_io::badArgument();
    }
    block_io::BlockCall call(serviceAnchor);
    const Outcome<uint32_t> direction = readMask(ATT_GPIO_INOUT_MODE);
    if (!direction.ok()) {
        return direction.result;
    }
    std::array<std::pair<int, uint32_t>, 3> written{};
    size_t writes = 0;
    const auto undo = [&](AttributeResult why) {
        while (writes > 0) {
            --writes;
            // Best effort: the call fails with why whatever this gives.
            static_cast<void>(writeMask(written[writes].first, written[writes].second));
        }
        return why;
    };
    const bool input = mode != OUTPUT_PIN;
    if (input) {
        for (int pull : {ATT_GPIO_PULL_UP, ATT_GPIO_PULL_DOWN}) {
            const Outcome<uint32_t> before = readMask(pull);
            if (!before.ok()) {
                return undo(before.result);
            }
            const bool wanted = (pull == ATT_GPIO_PULL_UP && mode == INPUT_PULLUP_PIN) ||
                                (pull == ATT_GPIO_PULL_DOWN && mode == INPUT_PULLDOWN_PIN);
            // Counted before the write: one that got no answer may have
            // been carried out all the same.
            written[writes++] = {pull, before.value()};
            const AttributeResult done = writeMask(
                pull, block_io::withBit(before.value(), static_cast<unsigned>(pin), wanted));
            if (!done.ok()) {
                return undo(done);
            }
        }
    }
    written[writes++] = {ATT_GPIO_INOUT_MODE, direction.value()};
    const AttributeResult done =
        writeMask(ATT_GPIO_INOUT_MODE,
                  block_io::withBit(direction.value(), static_cast<unsigned>(pin), input));
    return done.ok() ? done : undo(done);
}

Outcome<bool> Gpio::read(int pin) {
    if (!isPin(pin)) {
        return Outcome<bool>::failed(block_io::badArgument());
    }
    const Outcome<uint32_t> read = levels();
    return Outcome<bool>{read.result, read.ok() && bitOf(read.value(), pin)};
}

Outcome<uint32_t> Gpio::levels() { return readMask(ATT_GPIO_RW); }

// Writing one pin must change no other pin's output level. The output pins
// read back their own levels; the input pins read the levels applied to
// them, which must not land in their output latches (an input pulled up and
// later switched to output would drive high), so they get the levels this
// block wrote last. An input pin itself is refused (BadArgument) once the
// directions are read. Any failed read stops it before the write.
AttributeResult Gpio::write(int pin, bool high) {
    if (!isPin(pin)) {
        return block_io::badArgument();
    }
    block_io::BlockCall call(serviceAnchor);
    const Outcome<uint32_t> inputs = readMask(ATT_GPIO_INOUT_MODE);
    if (!inputs.ok()) {
        return inputs.result;
    }
    if (bitOf(inputs.value(), pin)) {
        return block_io::badArgument();
    }
    const Outcome<uint32_t> now = levels();
    if (!now.ok()) {
        return now.result;
    }
    const uint32_t kept = (now.value() & ~inputs.value()) | (outputsWritten & inputs.value());
    return writeLevels(block_io::withBit(kept, static_cast<unsigned>(pin), high));
}

AttributeResult Gpio::writeLevels(uint32_t mask) {
    block_io::BlockCall call(serviceAnchor);
    outputsWritten = mask;
    return writeMask(ATT_GPIO_RW, mask);
}

}  // namespace korvane
