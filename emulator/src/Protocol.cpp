#include "Protocol.h"

#include <algorithm>

namespace emu {

Request parseRequest(const Report &report) {
    Request r;
    r.opcode = report[1];
    r.attid = uint16_t(report[2] << 8 | report[3]);
    const uint8_t length = report[0];
    if (r.opcode == kOpValueGet) {
        r.wellFormed = length == 4;
    } else if (r.opcode == kOpValueSet) {
        // Bits 6-7 set or fewer than the four header bytes: not a request.
        r.wellFormed = length >= 4 && length <= 4 + kMaxWriteValue;
        if (r.wellFormed) {
            r.value.assign(report.begin() + 4, report.begin() + length);
        }
    }
    return r;
}

Report makeReport(const uint8_t *bytes, size_t len) {
    Report r{};
    if (bytes) {
        std::copy(bytes, bytes + std::min(len, kReportSize), r.begin());
    }
    return r;
}

Report readAnswer(const Bytes &value) {
    Report r{};
    const size_t m = std::min(value.size(), kMaxAnswerValue);
    r[0] = uint8_t(3 + m);
    r[1] = kOpValueGet;
    r[2] = kRcOk;
    std::copy(value.begin(), value.begin() + m, r.begin() + 3);
    return r;
}

Report statusAnswer(uint8_t opcode, bool ok) {
    Report r{};
    r[0] = 3;
    r[1] = opcode;
    r[2] = ok ? kRcOk : kRcFail;
    return r;
}

Report notification(uint16_t attid) {
    Report r{};
    r[0] = 4;
    r[1] = kEvtNotify;
    r[2] = uint8_t(attid >> 8);
    r[3] = uint8_t(attid);
    return r;
}

bool isSuccessAnswer(const Report &answer) {
    return (answer[1] == kOpValueGet || answer[1] == kOpValueSet) && answer[2] == kRcOk;
}

Report resizedAnswer(const Report &answer, size_t valueLength) {
    valueLength = std::min(valueLength, kMaxResizedValue);
    const size_t length = answer[0] & 0x3F;
    const size_t kept = std::min(length < 3 ? 0 : length - 3, valueLength);
    Report r{};
    r[0] = uint8_t(3 + valueLength);
    r[1] = answer[1];
    r[2] = answer[2];
    std::copy(answer.begin() + 3, answer.begin() + 3 + kept, r.begin() + 3);
    std::fill(r.begin() + 3 + kept, r.begin() + 3 + valueLength, kResizePad);
    return r;
}

}  // namespace emu
