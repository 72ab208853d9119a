// Byte layouts of the attribute protocol: request encoding and the
// acceptance rules for answers (KorDevice frames requests into reports).
// Attribute ids travel most significant byte first; values least significant
// byte first.
#ifndef KORVANE_PACKETCODEC_H
#define KORVANE_PACKETCODEC_H

#include <cstddef>
#include <cstdint>

#include "Attribute.h"
#include "korPacket.h"

namespace korvane {

namespace packet {

// Largest packet a report carries (65 bytes minus the report number).
constexpr size_t kMaxPacketLen = BUF_LEN - 1;
// Bytes before the value in a read answer: length, opcode, return code.
constexpr uint8_t kAnswerHeaderLen = 3;

// Writes the value-write request for attribute into out (at least 36 bytes)
// and returns its length, 4 + value length.
size_t encodeWrite(const Attribute &attribute, uint8_t *out);
// Writes the 4-byte value-read request for attid into out.
size_t encodeRead(uint16_t attid, uint8_t *out);

bool isNotification(const uint8_t *received);
// True when a received packet confirms a value write.
bool isWriteOk(const uint8_t *received);
// True when a received packet answers a request of opcode with a return
// code other than RC_OK: the device refused it.
bool isRefusal(const uint8_t *received, uint8_t opcode);
// True when a received packet is a successful read answer; then *valueLen
// holds the announced value length (which may still exceed VALUE_LEN).
bool isReadOk(const uint8_t *received, uint8_t *valueLen);

// What the answer to one request must look like to be taken as its answer:
// the request's opcode, and for a success the range of value lengths the
// operation expects (a write's acknowledgement carries none).
struct AnswerShape {
    uint8_t opcode;
    uint8_t minValueLen;
    uint8_t maxValueLen;

    static AnswerShape write() { return AnswerShape{OP_ATT_VALUE_SET, 0, 0}; }
    static AnswerShape read(uint8_t minLen, uint8_t maxLen) {
        return AnswerShape{OP_ATT_VALUE_GET, minLen, maxLen};
    }
};
// True when received is a refusal of shape's opcode, or a success of it
// whose value length lies in shape's range.
bool fitsShape(const uint8_t *received, const AnswerShape &shape);
// True when two received packets are the same answer: the same length
// field and the bytes it covers.
bool sameAnswer(const uint8_t *one, const uint8_t *other);
// True when received is a successful read answer carrying exactly the
// length bytes of value.
bool isReadAnswerOf(const uint8_t *received, const uint8_t *value, uint8_t length);

}  // namespace packet

}  // namespace korvane

#endif
