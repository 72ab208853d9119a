#include "Dmm.h"

#include <cstdio>
#include <utility>

#include "CallGuard.h"
#include "Meter.h"
#include "Products.h"

namespace korvane {

namespace {
const float kFailedReading = -999.9f;
}

Dmm::Dmm()
    : KorCore(std::unique_ptr<Connection>(new Meter(KorService::Receive::Polling))),
      i2chw(service(), ATT_IC20_BASE) {}

Dmm::~Dmm() { waitForCalls(); }

Meter &Dmm::meter() const { return static_cast<Meter &>(connection()); }

bool Dmm::open() { return openByProduct(kor_product::kDmm, nullptr); }

bool Dmm::open(std::string serial) { return openByProduct(kor_product::kDmm, &serial); }

bool Dmm::calibration() { return !meter().calibrate().ok(); }

// One "NAME: value" line per offset; "" when they cannot be read.
std::string Dmm::getCalibrationData() {
    const Outcome<Meter::CalibrationOffsets> read = meter().calibrationOffsets();
    if (!read.ok()) {
        return "";
    }
    const Meter::CalibrationOffsets &offsets = read.value();
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

float Dmm::getVoltage() { return meter().voltage().valueOr(kFailedReading); }

float Dmm::getCurrent() { return meter().current().valueOr(kFailedReading); }

// Unlike Meter::registers, which fails whole, a register that cannot be
// read shows as 0, as read2byte reports it. The dump holds the call lock
// throughout: it is one consistent picture.
std::string Dmm::showReg() {
    CallGuard call(link());
    std::string text;
    for (int reg = 0; reg <= Meter::kLastRegister; ++reg) {
        char line[32];
        std::snprintf(line, sizeof line, "%x: 0x%x\n", static_cast<unsigned>(reg),
                      static_cast<unsigned>(i2chw.read2byte(static_cast<uint8_t>(reg))));
        text += line;
    }
    return text;
}

uint16_t Dmm::getDieID() { return meter().dieId().valueOr(0); }

}  // namespace korvane
