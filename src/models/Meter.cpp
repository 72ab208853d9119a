#include "Meter.h"

#include <cstring>
#include <utility>

#include "BlockIo.h"
#include "CallGuard.h"
#include "Products.h"

namespace korvane {

namespace {
const uint8_t kReadingBytes = 4;
}

Meter::Meter(KorService::Receive receive)
    : Connection(receive, kor_product::kDmm), i2c(service(), ATT_IC20_BASE) {}

Meter::~Meter() { waitForCalls(); }

Meter::Meter(Meter &&other) : Meter(other.receiveMode()) { swapWith(other); }

Meter &Meter::operator=(Meter &&other) {
    if (this != &other) {
        Meter taken(std::move(other));
        swapWith(taken);
    }
    return *this;
}

void Meter::swapWith(Meter &other) noexcept {
    swapConnection(other);
    std::swap(i2c, other.i2c);
}

Outcome<float> Meter::voltage() { return reading(ATT_VOLTAGE); }

Outcome<float> Meter::current() { return reading(ATT_CURRENT); }

// A reading is a 4-byte IEEE float, least significant byte first.
Outcome<float> Meter::reading(uint16_t attid) {
    const Outcome<uint32_t> bits = block_io::readUint(service(), attid, kReadingBytes);
    if (!bits.ok()) {
        return Outcome<float>::failed(bits.result);
    }
    const uint32_t raw = bits.value();
    float value;
    std::memcpy(&value, &raw, sizeof value);
    return Outcome<float>{bits.result, value};
}

// Each offset is one signed byte of the 32-bit value, lowest byte first.
Outcome<Meter::CalibrationOffsets> Meter::calibrationOffsets() {
    const Outcome<uint32_t> read = block_io::readUint(service(), ATT_CALIBRATION, kReadingBytes);
    if (!read.ok()) {
        return Outcome<CalibrationOffsets>::failed(read.result);
    }
    const uint32_t bytes = read.value();
    auto offset = [bytes](int n) {
        return static_cast<int8_t>(static_cast<uint8_t>(bytes >> (8 * n)));
    };
    return Outcome<CalibrationOffsets>{
        read.result, CalibrationOffsets{offset(0), offset(1), offset(2), offset(3)}};
}

// Writing the 32-bit 0 starts the run.
AttributeResult Meter::calibrate() {
    return block_io::writeUint(service(), ATT_CALIBRATION, 0, kReadingBytes);
}

// The dump holds the call lock throughout: it is one consistent picture.
Outcome<std::vector<uint16_t>> Meter::registers() {
    CallGuard call(link());
    std::vector<uint16_t> values;
    for (int reg = 0; reg <= kLastRegister; ++reg) {
        const Outcome<uint32_t> read = i2c.read(reg, 2);
        if (!read.ok()) {
            return Outcome<std::vector<uint16_t>>::failed(read.result);
        }
        values.push_back(static_cast<uint16_t>(read.value()));
    }
    return Outcome<std::vector<uint16_t>>{block_io::ok(), values};
}

Outcome<uint16_t> Meter::dieId() {
    const Outcome<uint32_t> read = i2c.read(kDieIdRegister, 2);
    return Outcome<uint16_t>{read.result, static_cast<uint16_t>(read.valueOr(0))};
}

}  // namespace korvane
