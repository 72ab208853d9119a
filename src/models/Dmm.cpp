#include "Dmm.h"

#include <cstdio>
#include <utility>

#include "BlockIo.h"
#include "Products.h"

namespace korvane {

namespace {
const char *const kProductName = kor_product::kDmm;
const uint8_t kReadingBytes = 4;
const float kFailedReading = -999.9f;
const uint8_t kLastDumpedRegister = 0x11;
const uint8_t kDieIdRegister = 0xFF;
}  // namespace

Dmm::Dmm() : Dmm(KorService::Receive::Polling) {}

Dmm::Dmm(KorService::Receive receive)
    : KorCore(receive),
      i2chw(service.get(), ATT_IC20_BASE),
      calibrationValue(ATT_CALIBRATION, PERMISSION_NONE, 0),
      voltage(ATT_VOLTAGE, PERMISSION_NONE, 0),
      current(ATT_CURRENT, PERMISSION_NONE, 0) {
    product = kProductName;
}

Dmm::~Dmm() { waitForCalls(); }

Dmm::Dmm(Dmm &&other) : Dmm(other.receiveMode()) { swapWith(other); }

// The connection held before is closed with the object it is swapped into.
Dmm &Dmm::operator=(Dmm &&other) {
    if (this != &other) {
        Dmm taken(std::move(other));
        swapWith(taken);
    }
    return *this;
}

void Dmm::swapWith(Dmm &other) noexcept {
    swapConnection(other);
    std::swap(i2chw, other.i2chw);
    std::swap(calibrationValue, other.calibrationValue);
    std::swap(voltage, other.voltage);
    std::swap(current, other.current);
}

bool Dmm::open() { return openByProduct(kProductName, nullptr); }

bool Dmm::open(std::string serial) { return openByProduct(kProductName, &serial); }

// Writing the 32-bit 0 starts the meter's calibration run.
bool Dmm::calibration() { return !calibrate().ok(); }

std::string Dmm::getCalibrationData() {
    const Outcome<CalibrationOffsets> read = calibrationOffsets();
    if (!read.ok()) {
        return "";
    }
    const CalibrationOffsets &offsets = read.value();
    std::string text;
    for (const auto &line : {std::make_pair("LOW_CURRENT_OFFSET: ", offsets.lowCurrent),
                             std::make_pair("HIGH_CURRENT_OFFSET: ", offsets.highCurrent),
                             std::make_pair("LOW_VOLTAGE_OFFSET: ", offsets.lowVoltage),
                             std::make_pair("HIGH_VOLTAGE_OFFSET: ", offsets.highVoltage)}) {
        text += line.first;
        text += std::to_string(line.second);
        text += '\n';
    }
    return text;
}

float Dmm::getVoltage() {
    const Outcome<float> read = voltageReading();
    return read.valueOr(kFailedReading);
}

float Dmm::getCurrent() {
    const Outcome<float> read = currentReading();
    return read.valueOr(kFailedReading);
}

// The dump holds the call lock throughout: it is one consistent picture. A
// register that cannot be read shows as 0, as read2byte reports it.
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

Outcome<float> Dmm::voltageReading() { return reading(voltage); }

Outcome<float> Dmm::currentReading() { return reading(current); }

// Each offset is one signed byte of the 32-bit value, lowest byte first.
Outcome<Dmm::CalibrationOffsets> Dmm::calibrationOffsets() {
    CallGuard call(link());
    const AttributeResult done =
        block_io::readStatus(service.get(), calibrationValue, kReadingBytes, block_io::Fill::Exact);
    if (!done.ok()) {
        return Outcome<CalibrationOffsets>::failed(done);
    }
    const uint32_t bytes = calibrationValue.getValueUint32();
    auto offset = [bytes](int n) {
        return static_cast<int8_t>(static_cast<uint8_t>(bytes >> (8 * n)));
    };
    return Outcome<CalibrationOffsets>{
        done, CalibrationOffsets{offset(0), offset(1), offset(2), offset(3)}};
}

AttributeResult Dmm::calibrate() {
    CallGuard call(link());
    calibrationValue.setValue(static_cast<uint32_t>(0));
    return block_io::writeStatus(service.get(), calibrationValue);
}

Outcome<std::vector<uint16_t>> Dmm::registers() {
    CallGuard call(link());
    std::vector<uint16_t> values;
    for (unsigned reg = 0; reg <= kLastDumpedRegister; ++reg) {
        const Outcome<uint32_t> read = i2chw.readRegister(static_cast<uint8_t>(reg), 2);
        if (!read.ok()) {
            return Outcome<std::vector<uint16_t>>::failed(read.result);
        }
        values.push_back(static_cast<uint16_t>(read.value()));
    }
    return Outcome<std::vector<uint16_t>>{AttributeResult{AttributeStatus::Ok, RC_OK}, values};
}

Outcome<uint16_t> Dmm::dieId() {
    const Outcome<uint32_t> read = i2chw.readRegister(kDieIdRegister, 2);
    return Outcome<uint16_t>{read.result, static_cast<uint16_t>(read.valueOr(0))};
}

Outcome<float> Dmm::reading(Attribute &attribute) {
    CallGuard call(link());
    const AttributeResult done =
        block_io::readStatus(service.get(), attribute, kReadingBytes, block_io::Fill::Exact);
    return done.ok() ? Outcome<float>{done, attribute.getValueFloat()}
                     : Outcome<float>::failed(done);
}

}  // namespace korvane
