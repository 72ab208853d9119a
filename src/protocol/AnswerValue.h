// AnswerValue: the value bytes of one read answer, exactly as many as the
// device sent, with the decodings the operations need.
#ifndef KORVANE_ANSWERVALUE_H
#define KORVANE_ANSWERVALUE_H

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "kordefs.h"

namespace korvane {

struct AnswerValue {
    std::array<uint8_t, VALUE_LEN> bytes{};
    uint8_t length = 0;

    // The first bytes (at most four), least significant first.
    uint32_t littleEndian() const {
        uint32_t value = 0;
        for (unsigned i = length < 4 ? length : 4; i-- > 0;) {
            value = (value << 8) | bytes[i];
        }
        return value;
    }
    // Four bytes as an IEEE 754 single, least significant byte first.
    float asFloat() const {
        const uint32_t raw = littleEndian();
        float value;
        std::memcpy(&value, &raw, sizeof value);
        return value;
    }
    // A text: the bytes up to the first zero byte or the end of the value.
    std::string text() const {
        const void *zero = std::memchr(bytes.data(), 0, length);
        const size_t n =
            zero == nullptr
                ? length
                : static_cast<size_t>(static_cast<const uint8_t *>(zero) - bytes.data());
        return std::string(reinterpret_cast<const char *>(bytes.data()), n);
    }
};

}  // namespace korvane

#endif
