#include "GpioHw.h"

#include "BlockIo.h"

#include <utility>

namespace korvane {

namespace {
const uint8_t kPins = 32;  // one bit per pin in a 32-bit mask

bool isPin(int pin) { return pin >= 0 && pin < kPins; }
const uint8_t kMaskBytes = 4;  // masks travel as 4 bytes, least significant first

// Sets the cached mask and writes it to the device.
AttributeResult writeMask(KorService *service, Attribute &attribute, uint32_t mask) {
    attribute.setValue(mask);
    return block_io::writeStatus(service, attribute);
}
}  // namespace

using block_io::Fill;

GpioHw::GpioHw(KorService *service, int base)
    : serviceAnchor(block_io::anchorOf(service)),
      attributes(block_io::attributesFrom<kAttributes>(base)) {}

GpioHw::~GpioHw() = default;

// Pull-down is refused after the two reads, as the block has always done;
// setMode offers it.
bool GpioHw::pinMode(uint8_t pin, PinMode mode) {
    if (pin >= kPins) {
        return true;  // no such pin: nothing done is a failure
    }
    return !applyMode(pin, mode, false).ok();
}

bool GpioHw::write(uint32_t value) { return !setLevels(value).ok(); }

// The levels as the answer left them in the cache.
uint32_t GpioHw::read() {
    const Outcome<uint32_t> read = readMask(ATT_GPIO_RW, false);
    return read.valueOr(0xFFFFFFFF);
}

// A failed read still lets the write go on from the cached levels.
bool GpioHw::digitalWrite(uint8_t pin, bool value) {
    if (pin >= kPins) {
        return true;
    }
    return !applyLevel(pin, value).ok();
}

// Also true when the level cannot be read.
bool GpioHw::digitalRead(uint8_t pin) {
    if (pin >= kPins) {
        return true;
    }
    const Outcome<uint32_t> read = readMask(ATT_GPIO_RW, false);
    return !read.ok() || ((read.value() >> pin) & 1u) != 0;
}

AttributeResult GpioHw::setMode(int pin, PinMode mode) {
    if (!isPin(pin) || mode < OUTPUT_PIN || mode > INPUT_PULLDOWN_PIN) {
        return block_io::badArgument();
    }
    return applyMode(static_cast<uint8_t>(pin), mode, true);
}

// Pulls are written before the direction, so an input never floats with the
// wrong pull while it is being switched over: the pull-up mask, then (when
// withPullDown) the pull-down mask, each pin's bit set for its own pull only.
// Without withPullDown, a mode other than output, input and input with
// pull-up is refused once the pull-up mask has been read. The whole
// read-modify-write holds the call lock, so another thread's change to
// another pin is not lost in between. With withPullDown (setMode), a step
// that fails puts the masks written before it back, so the pin keeps its
// old configuration rather than half of the new one.
AttributeResult GpioHw::applyMode(uint8_t pin, PinMode mode, bool withPullDown) {
    block_io::BlockCall call(serviceAnchor);
    const Fill fill = withPullDown ? Fill::Exact : Fill::OverCache;
    Attribute &inoutMode = attributes[ATT_GPIO_INOUT_MODE];
    AttributeResult done = block_io::readStatus(call.service(), inoutMode, kMaskBytes, fill);
    if (!done.ok()) {
        return done;
    }
    std::array<std::pair<Attribute *, uint32_t>, 3> written{};
    size_t writes = 0;
    const auto undo = [&](AttributeResult why) {
        while (withPullDown && writes > 0) {
            --writes;
            // Best effort: the call fails with why whatever this gives.
            static_cast<void>(
                writeMask(call.service(), *written[writes].first, written[writes].second));
        }
        return why;
    };
    const bool input = mode != OUTPUT_PIN;
    if (input) {
        for (int pull : {ATT_GPIO_PULL_UP, ATT_GPIO_PULL_DOWN}) {
            if (pull == ATT_GPIO_PULL_DOWN && !withPullDown) {
                break;
            }
            Attribute &mask = attributes[pull];
            done = block_io::readStatus(call.service(), mask, kMaskBytes, fill);
            if (!done.ok()) {
                return undo(done);
            }
            if (!withPullDown && mode != INPUT_PIN && mode != INPUT_PULLUP_PIN) {
                return block_io::badArgument();
            }
            const bool wanted = (pull == ATT_GPIO_PULL_UP && mode == INPUT_PULLUP_PIN) ||
                                (pull == ATT_GPIO_PULL_DOWN && mode == INPUT_PULLDOWN_PIN);
            // Counted before the write: one that got no answer may have
            // been carried out all the same.
            const uint32_t before = mask.getValueUint32();
            written[writes++] = {&mask, before};
            done = writeMask(call.service(), mask, block_io::withBit(before, pin, wanted));
            if (!done.ok()) {
                return undo(done);
            }
        }
    }
    const uint32_t direction = inoutMode.getValueUint32();
    written[writes++] = {&inoutMode, direction};
    done = writeMask(call.service(), inoutMode, block_io::withBit(direction, pin, input));
    return done.ok() ? done : undo(done);
}

Outcome<bool> GpioHw::level(int pin) {
    if (!isPin(pin)) {
        return Outcome<bool>::failed(block_io::badArgument());
    }
    const Outcome<uint32_t> read = levels();
    return Outcome<bool>{read.result, read.ok() && ((read.value() >> pin) & 1u) != 0};
}

Outcome<uint32_t> GpioHw::levels() { return readMask(ATT_GPIO_RW, true); }

Outcome<uint32_t> GpioHw::readMask(int which, bool exact) {
    block_io::BlockCall call(serviceAnchor);
    Attribute &mask = attributes[which];
    const AttributeResult done = block_io::readStatus(call.service(), mask, kMaskBytes,
                                                      exact ? Fill::Exact : Fill::OverCache);
    return done.ok() ? Outcome<uint32_t>{done, mask.getValueUint32()}
                     : Outcome<uint32_t>::failed(done);
}

// Writing one pin must change no other pin's output level. The output pins
// read back their own levels; the input pins read the levels applied to
// them, which must not land in their output latches (an input pulled up and
// later switched to output would drive high), so they get the levels this
// block wrote last. An input pin itself is refused (BadArgument) once the
// directions are read. Any failed read stops it before the write.
AttributeResult GpioHw::setLevel(int pin, bool high) {
    if (!isPin(pin)) {
        return block_io::badArgument();
    }
    block_io::BlockCall call(serviceAnchor);
    const Outcome<uint32_t> inputs = readMask(ATT_GPIO_INOUT_MODE, true);
    if (!inputs.ok()) {
        return inputs.result;
    }
    if (((inputs.value() >> pin) & 1u) != 0) {
        return block_io::badArgument();
    }
    const Outcome<uint32_t> levels = readMask(ATT_GPIO_RW, true);
    if (!levels.ok()) {
        return levels.result;
    }
    return setLevels(block_io::withBit(
        (levels.value() & ~inputs.value()) | (outputsWritten & inputs.value()), pin, high));
}

Outcome<PinMode> GpioHw::mode(int pin) {
    if (!isPin(pin)) {
        return Outcome<PinMode>::failed(block_io::badArgument());
    }
    block_io::BlockCall call(serviceAnchor);
    uint32_t masks[3] = {};
    for (int which : {ATT_GPIO_INOUT_MODE, ATT_GPIO_PULL_UP, ATT_GPIO_PULL_DOWN}) {
        const Outcome<uint32_t> read = readMask(which, true);
        if (!read.ok()) {
            return Outcome<PinMode>::failed(read.result);
        }
        masks[which] = (read.value() >> pin) & 1u;
    }
    const PinMode now = masks[ATT_GPIO_INOUT_MODE] == 0  ? OUTPUT_PIN
                        : masks[ATT_GPIO_PULL_UP] != 0   ? INPUT_PULLUP_PIN
                        : masks[ATT_GPIO_PULL_DOWN] != 0 ? INPUT_PULLDOWN_PIN
                                                         : INPUT_PIN;
    return Outcome<PinMode>{{AttributeStatus::Ok, RC_OK}, now};
}

// Reads the levels over the cache, then writes them back with pin's bit
// set to high; a failed read lets the write go on from the cached levels.
AttributeResult GpioHw::applyLevel(uint8_t pin, bool high) {
    block_io::BlockCall call(serviceAnchor);
    Attribute &levels = attributes[ATT_GPIO_RW];
    static_cast<void>(block_io::readStatus(call.service(), levels, kMaskBytes, Fill::OverCache));
    return writeMask(call.service(), levels, block_io::withBit(levels.getValueUint32(), pin, high));
}

AttributeResult GpioHw::setLevels(uint32_t mask) {
    block_io::BlockCall call(serviceAnchor);
    outputsWritten = mask;
    return writeMask(call.service(), attributes[ATT_GPIO_RW], mask);
}

}  // namespace korvane
