#include "Dmm.h"

#include <cstdio>

#include "BlockIo.h"

namespace {
const char kProductName[] = "DMM";
const uint8_t kReadingBytes = 4;
const float kFailedReading = -999.9f;
const uint8_t kLastDumpedRegister = 0x11;
const uint8_t kDieIdRegister = 0xFF;
}  // namespace

Dmm::Dmm()
    : KorCore(),
      i2chw(service.get(), ATT_IC20_BASE),
      calibrationValue(ATT_CALIBRATION, PERMISSION_NONE, 0),
      voltage(ATT_VOLTAGE, PERMISSION_NONE, 0),
      current(ATT_CURRENT, PERMISSION_NONE, 0) {}

Dmm::~Dmm() { waitForCalls(); }

bool Dmm::open() { return openByProduct(kProductName, nullptr); }

bool Dmm::open(std::string serial) { return openByProduct(kProductName, &serial); }

// Writing the 32-bit 0 starts the meter's calibration run.
bool Dmm::calibration() {
    CallGuard call(link());
    calibrationValue.setValue(static_cast<uint32_t>(0));
    return block_io::write(service.get(), calibrationValue);
}

std::string Dmm::getCalibrationData() {
    CallGuard call(link());
    if (block_io::readZeroed(service.get(), &calibrationValue, kReadingBytes)) {
        return "";
    }
    static const char *const kLabels[kReadingBytes] = {
        "LOW_CURRENT_OFFSET: ", "HIGH_CURRENT_OFFSET: ", "LOW_VOLTAGE_OFFSET: ",
        "HIGH_VOLTAGE_OFFSET: "};
    const uint32_t offsets = calibrationValue.getValueUint32();
    std::string text;
    for (uint8_t n = 0; n < kReadingBytes; ++n) {
        // Each offset byte is a signed 8-bit number.
        const int offset = static_cast<int8_t>(static_cast<uint8_t>(offsets >> (8 * n)));
        text += kLabels[n];
        text += std::to_string(offset);
        text += '\n';
    }
    return text;
}

float Dmm::getVoltage() { return readFloat(voltage); }

float Dmm::getCurrent() { return readFloat(current); }

// The dump holds the call lock throughout: it is one consistent picture.
std::string Dmm::showReg() {
    CallGuard call(link());
    std::string text;
    for (unsigned reg = 0; reg <= kLastDumpedRegister; ++reg) {
        char line[32];
        std::snprintf(line, sizeof line, "%x: 0x%x\n", reg,
                      static_cast<unsigned>(i2chw.read2byte(static_cast<uint8_t>(reg))));
        text += line;
    }
    return text;
}

uint16_t Dmm::getDieID() { return i2chw.read2byte(kDieIdRegister); }

float Dmm::readFloat(Attribute &reading) {
    CallGuard call(link());
    if (block_io::readZeroed(service.get(), &reading, kReadingBytes)) {
        return kFailedReading;
    }
    return reading.getValueFloat();
}
