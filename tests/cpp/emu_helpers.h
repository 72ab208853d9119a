// Helpers for tests that run the library against the emulated devices.
#ifndef KORVANE_TESTS_EMU_HELPERS_H
#define KORVANE_TESTS_EMU_HELPERS_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "korvane_emu.h"

using Bytes = std::vector<uint8_t>;

// One request as the device saw it.
struct Request {
    int opcode;
    uint16_t attid;
    Bytes value;  // value bytes of a write; empty for a read

    bool operator==(const Request &other) const {
        return opcode == other.opcode && attid == other.attid && value == other.value;
    }
};

inline void PrintTo(const Request &request, std::ostream *out) {
    char head[32];
    std::snprintf(head, sizeof head, "{%02X %04X [", request.opcode, request.attid);
    *out << head;
    for (uint8_t byte : request.value) {
        std::snprintf(head, sizeof head, " %02X", byte);
        *out << head;
    }
    *out << " ]}";
}

inline Request readOf(uint16_t attid) { return Request{0x13, attid, {}}; }
inline Request writeOf(uint16_t attid, Bytes value) {
    return Request{0x12, attid, std::move(value)};
}

// Calls visit(entry) for each log entry of a report from the host, in order.
template <typename Visit>
void forEachHostEntry(int dev, Visit visit) {
    const int count = emu_log_count(dev);
    for (int i = 0; i < count; ++i) {
        emu_log_entry entry{};
        if (emu_log_get(dev, i, &entry) == 0 && entry.kind == EMU_LOG_HOST_REPORT) {
            visit(entry);
        }
    }
}

// Every report the device received from the host, payload bytes only.
inline std::vector<Bytes> hostReports(int dev) {
    std::vector<Bytes> reports;
    forEachHostEntry(dev, [&reports](const emu_log_entry &entry) {
        reports.emplace_back(entry.report, entry.report + sizeof entry.report);
    });
    return reports;
}

// The requests the device received, in order.
inline std::vector<Request> requests(int dev) {
    std::vector<Request> parsed;
    forEachHostEntry(dev, [&parsed](const emu_log_entry &entry) {
        Request request{entry.opcode, entry.attid, {}};
        if (entry.opcode == 0x12) {
            request.value.assign(entry.value, entry.value + entry.value_len);
        }
        parsed.push_back(request);
    });
    return parsed;
}

// Polls the device's traffic log until it holds count requests; false when
// the bound passed first.
inline bool waitForRequests(int dev, size_t count,
                            std::chrono::milliseconds bound = std::chrono::seconds(30)) {
    const auto giveUp = std::chrono::steady_clock::now() + bound;
    while (requests(dev).size() < count) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void setAttribute(int dev, uint16_t attid, const Bytes &value) {
    ASSERT_EQ(0, emu_set_attribute(dev, attid, value.data(), static_cast<int>(value.size())));
}

inline void setRawAnswer(int dev, uint16_t attid, const Bytes &answer) {
    ASSERT_EQ(0, emu_set_raw_answer(dev, attid, answer.data(), static_cast<int>(answer.size())));
}

inline void injectReport(int dev, const Bytes &report) {
    ASSERT_EQ(0, emu_inject_report(dev, report.data(), static_cast<int>(report.size())));
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every test starts and ends with no emulated device.
class EmuTest : public ::testing::Test {
protected:
    void SetUp() override { emu_reset(); }
    void TearDown() override { emu_reset(); }

    // Adds a device with a fixed path, so tests can open it by path.
    int addDevice(const char *model, const char *serial, const std::string &path) {
        const int dev = emu_add_device(model, serial, path.c_str());
        EXPECT_GE(dev, 0) << model;
        return dev;
    }
};

#endif
