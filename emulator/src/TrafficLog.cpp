#include "TrafficLog.h"

#include <algorithm>

namespace emu {

namespace {
emu_log_entry entryFor(int kind, const Report &report) {
    emu_log_entry e{};
    e.kind = kind;
    std::copy(report.begin(), report.end(), e.report);
    return e;
}

void setValue(emu_log_entry &e, const uint8_t *bytes, size_t len) {
    len = std::min(len, sizeof e.value);
    std::copy(bytes, bytes + len, e.value);
    e.value_len = int(len);
}
}  // namespace

void TrafficLog::hostReport(const Report &report, const Request &parsed) {
    emu_log_entry e = entryFor(EMU_LOG_HOST_REPORT, report);
    if (parsed.wellFormed) {
        e.opcode = parsed.opcode;
        e.attid = parsed.attid;
        setValue(e, parsed.value.data(), parsed.value.size());
    }
    append(e);
}

void TrafficLog::deviceReport(const Report &report, uint16_t attid) {
    emu_log_entry e = entryFor(EMU_LOG_DEVICE_REPORT, report);
    const uint8_t opcode = report[1];
    if (opcode == kOpValueSet || opcode == kOpValueGet || opcode == kEvtNotify) {
        e.opcode = opcode;
        e.attid = attid;
    }
    // The value of a successful read answer, as the length field gives it.
    const size_t length = report[0] & 0x3F;
    if (opcode == kOpValueGet && report[2] == kRcOk && (report[0] & 0xC0) == 0 && length >= 3) {
        setValue(e, report.data() + 3, length - 3);
    }
    append(e);
}

bool TrafficLog::get(int index, emu_log_entry &out) const {
    if (index < 0 || size_t(index) >= entries.size()) {
        return false;
    }
    out = entries[size_t(index)];
    return true;
}

void TrafficLog::append(const emu_log_entry &entry) {
    if (entries.size() >= kCapacity) {
        entries.pop_front();
    }
    entries.push_back(entry);
}

}  // namespace emu
