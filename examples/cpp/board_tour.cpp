// A tour of the first attached I/O board (or the one whose serial number is
// given): GPIO pin 5 driven high as an output and pin 6 an input with
// pull-up, their modes and the levels of all pins read back; ADC channel 3;
// a register of the I2C target at 0x40 written and read back. A step that
// fails is reported with what happened and the tour goes on; the exit status
// is then 1.
//
//   korvane-emu -- build-example/board_tour [SERIAL]
#include <cstdint>
#include <cstdio>

#include <korvane/korvane.h>

#include "report.h"

namespace {
bool failed = false;

// True when the step went well; otherwise says what happened.
bool step(const char *what, const korvane::AttributeResult &result) {
    if (result.ok()) {
        return true;
    }
    std::printf("%s: failed, %s\n", what, example::describe(result).c_str());
    failed = true;
    return false;
}

const char *modeName(korvane::PinMode mode) {
    switch (mode) {
        case korvane::OUTPUT_PIN: return "output";
        case korvane::INPUT_PIN: return "input";
        case korvane::INPUT_PULLUP_PIN: return "input, pull-up";
        case korvane::INPUT_PULLDOWN_PIN: return "input, pull-down";
    }
    return "unknown";
}

void showPin(korvane::Gpio &gpio, int pin) {
    const korvane::Outcome<korvane::PinMode> mode = gpio.mode(pin);
    const korvane::Outcome<bool> level = gpio.read(pin);
    if (step("pin mode", mode.result) && step("pin level", level.result)) {
        std::printf("pin %d: %s, level %d\n", pin, modeName(mode.value()), level.value() ? 1 : 0);
    }
}
}  // namespace

int main(int argc, char **argv) {
    korvane::Board board;
    if (!example::openModel(board, korvane::kor_product::kVanta, argc > 1 ? argv[1] : nullptr)) {
        return 2;
    }
    std::printf("%s %s, firmware %s\n", example::identity(board, korvane::ATT_PRODUCT_NAME).c_str(),
                example::identity(board, korvane::ATT_PRODUCT_SERIAL).c_str(),
                example::identity(board, korvane::ATT_FIRM_VERSION).c_str());

    korvane::Gpio &gpio = board.gpio;
    step("pin 5 output", gpio.mode(5, korvane::OUTPUT_PIN));
    step("pin 5 high", gpio.write(5, true));
    step("pin 6 pull-up", gpio.mode(6, korvane::INPUT_PULLUP_PIN));
    showPin(gpio, 5);
    showPin(gpio, 6);
    const korvane::Outcome<uint32_t> levels = gpio.levels();
    if (step("levels", levels.result)) {
        std::printf("levels: 0x%08x\n", static_cast<unsigned>(levels.value()));
    }

    const korvane::Outcome<uint32_t> adc = board.adc.read(3);
    if (step("ADC channel 3", adc.result)) {
        std::printf("ADC channel 3: %u\n", static_cast<unsigned>(adc.value()));
    }

    korvane::I2c &i2c = board.i2c;
    const int reg = 0x05;
    if (step("I2C target 0x40", i2c.setTarget(0x40)) &&
        step("I2C write", i2c.write(reg, 0xABCD, 2))) {
        const korvane::Outcome<uint32_t> read = i2c.read(reg, 2);
        if (step("I2C read", read.result)) {
            std::printf("I2C 0x40 register 0x%02x: 0x%04x\n", reg,
                        static_cast<unsigned>(read.value()));
        }
    }
    return failed ? 1 : 0;
}
