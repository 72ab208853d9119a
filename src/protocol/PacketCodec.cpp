#include "PacketCodec.h"

#include <cstring>

namespace korvane {

namespace packet {

namespace {
constexpr uint8_t kRequestHeaderLen = 4;  // length, opcode, id high, id low
constexpr uint8_t kLengthBits = 0x3F;     // bits 0-5 of byte 0
constexpr uint8_t kReservedBits = 0xC0;   // bits 6-7 of byte 0, must be zero

void putHeader(uint8_t *out, uint8_t len, uint8_t opcode, uint16_t attid) {
    out[0] = len;
    out[1] = opcode;
    out[2] = static_cast<uint8_t>(attid >> 8);
    out[3] = static_cast<uint8_t>(attid & 0xFF);
}
}  // namespace

size_t encodeWrite(const Attribute &attribute, uint8_t *out) {
    // The getters are not const; a copy of the 40-byte value is cheap.
    Attribute source = attribute;
    uint8_t valueLen = source.getValueLength();
    putHeader(out, static_cast<uint8_t>(valueLen + kRequestHeaderLen), OP_ATT_VALUE_SET,
              source.getAttid());
    std::memcpy(out + kRequestHeaderLen, source.rawBytes(), valueLen);
    return kRequestHeaderLen + valueLen;
}

size_t encodeRead(uint16_t attid, uint8_t *out) {
    putHeader(out, kRequestHeaderLen, OP_ATT_VALUE_GET, attid);
    return kRequestHeaderLen;
}

bool isNotification(const uint8_t *received) { return received[1] == EVT_NOTIFY; }

bool isWriteOk(const uint8_t *received) {
    return received[0] == 3 && received[1] == OP_ATT_VALUE_SET && received[2] == RC_OK;
}

bool isRefusal(const uint8_t *received, uint8_t opcode) {
    return (received[0] & kReservedBits) == 0 && received[1] == opcode && received[2] != RC_OK;
}

bool isReadOk(const uint8_t *received, uint8_t *valueLen) {
    if ((received[0] & kReservedBits) != 0 || received[1] != OP_ATT_VALUE_GET ||
        received[2] != RC_OK) {
        return false;
    }
    // A length field below 3 wraps to 253..255 and is refused by the store.
    *valueLen = static_cast<uint8_t>((received[0] & kLengthBits) - kAnswerHeaderLen);
    return true;
}

bool fitsShape(const uint8_t *received, const AnswerShape &shape) {
    if (isRefusal(received, shape.opcode)) {
        return true;
    }
    if ((received[0] & kReservedBits) != 0 || received[1] != shape.opcode || received[2] != RC_OK ||
        (received[0] & kLengthBits) < kAnswerHeaderLen) {
        return false;
    }
    const uint8_t valueLen = static_cast<uint8_t>((received[0] & kLengthBits) - kAnswerHeaderLen);
    return valueLen >= shape.minValueLen && valueLen <= shape.maxValueLen;
}

bool sameAnswer(const uint8_t *one, const uint8_t *other) {
    return std::memcmp(one, other, (one[0] & kLengthBits) + 1u) == 0;
}

bool isReadAnswerOf(const uint8_t *received, const uint8_t *value, uint8_t length) {
    uint8_t valueLen = 0;
    return isReadOk(received, &valueLen) && valueLen == length &&
           std::memcmp(received + kAnswerHeaderLen, value, length) == 0;
}

}  // namespace packet

}  // namespace korvane
