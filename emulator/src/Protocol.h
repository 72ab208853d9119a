// The attribute protocol as a device sees it: parsing the host's requests and
// building the device's answers and notifications, one 64-byte report each.
#ifndef KORVANE_EMU_PROTOCOL_H
#define KORVANE_EMU_PROTOCOL_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "Bytes.h"

namespace emu {

constexpr size_t kReportSize = 64;
using Report = std::array<uint8_t, kReportSize>;

constexpr uint8_t kOpValueSet = 0x12;
constexpr uint8_t kOpValueGet = 0x13;
constexpr uint8_t kEvtNotify = 0xA0;
constexpr uint8_t kRcFail = 0;
constexpr uint8_t kRcOk = 1;

// The length field has six bits, so an answer holds at most 63 - 3 value
// bytes and a write request at most 63 - 4.
constexpr size_t kMaxAnswerValue = 60;
constexpr size_t kMaxWriteValue = 59;
// The longest value a resized answer may carry: the rest of the report.
constexpr size_t kMaxResizedValue = kReportSize - 3;
// What a resized answer is padded with, so the padding is visible.
constexpr uint8_t kResizePad = 0xA5;

struct Request {
    bool wellFormed = false;  // a value read or write with a valid length field
    uint8_t opcode = 0;       // byte 1 as received
    uint16_t attid = 0;
    Bytes value;  // the value bytes of a write
};

Request parseRequest(const Report &report);

// len bytes (at most 64) followed by zeros.
Report makeReport(const uint8_t *bytes, size_t len);
// (3 + m) 13 01 value...; value must not exceed kMaxAnswerValue bytes.
Report readAnswer(const Bytes &value);
// 03 opcode rc: the answer to a write, and every failure answer.
Report statusAnswer(uint8_t opcode, bool ok);
// 04 A0 idH idL: what the device sends on its own about attribute attid.
Report notification(uint16_t attid);

// A read or write answer with RC_OK.
bool isSuccessAnswer(const Report &answer);
// The answer with its value cut or padded (kResizePad) to valueLength bytes
// (at most kMaxResizedValue) and its length field set to match; the bytes
// after the new value are zero.
Report resizedAnswer(const Report &answer, size_t valueLength);

}  // namespace emu

#endif
