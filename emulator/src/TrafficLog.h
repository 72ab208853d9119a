// Every report a device received or sent, oldest first, with the request or
// answer fields parsed out. Keeps the newest kCapacity entries so that a
// long soak run cannot grow memory without bound.
#ifndef KORVANE_EMU_TRAFFIC_LOG_H
#define KORVANE_EMU_TRAFFIC_LOG_H

#include <deque>

#include "ExportedApi.h"
#include "Protocol.h"

namespace emu {

class TrafficLog {
public:
    static constexpr size_t kCapacity = 100000;

    void hostReport(const Report &report, const Request &parsed);
    // attid: the attribute of the request answered, 0 for reports the
    // device sends on its own.
    void deviceReport(const Report &report, uint16_t attid);

    int count() const { return int(entries.size()); }
    bool get(int index, emu_log_entry &out) const;
    void clear() { entries.clear(); }

private:
    void append(const emu_log_entry &entry);

    std::deque<emu_log_entry> entries;
};

}  // namespace emu

#endif
