// Shared helpers of the emulator's tests: a fixture that starts and ends
// every test with no devices, an owning handle, and request/answer helpers
// that speak the attribute protocol through raw hid_* calls.
#ifndef KORVANE_EMU_TEST_SUPPORT_H
#define KORVANE_EMU_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <hidapi.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "korvane_emu.h"

namespace emutest {

using Bytes = std::vector<uint8_t>;

struct HandleCloser {
    void operator()(hid_device *dev) const { hid_close(dev); }
};
using Handle = std::unique_ptr<hid_device, HandleCloser>;

class EmuTest : public ::testing::Test {
protected:
    void SetUp() override { emu_reset(); }
    void TearDown() override { emu_reset(); }
};

inline std::string pathOf(int dev) {
    char path[256];
    return emu_get_path(dev, path, sizeof path) < 0 ? std::string() : std::string(path);
}

inline Handle openDevice(int dev) { return Handle(hid_open_path(pathOf(dev).c_str())); }

// Sends one packet as a 65-byte report with report number 0.
inline int writePacket(hid_device *dev, const Bytes &packet) {
    unsigned char report[65] = {0};
    for (size_t i = 0; i < packet.size() && i < 64; ++i)
        report[i + 1] = packet[i];
    return hid_write(dev, report, sizeof report);
}

// The next input report (64 bytes), or an empty vector when none came in
// timeoutMs.
inline Bytes readReport(hid_device *dev, int timeoutMs = 1000) {
    unsigned char buf[65] = {0};
    const int n = hid_read_timeout(dev, buf, sizeof buf, timeoutMs);
    return n > 0 ? Bytes(buf, buf + n) : Bytes();
}

inline Bytes readRequest(uint16_t attid) {
    return {0x04, 0x13, uint8_t(attid >> 8), uint8_t(attid)};
}

inline Bytes writeRequest(uint16_t attid, const Bytes &value) {
    Bytes packet{uint8_t(4 + value.size()), 0x12, uint8_t(attid >> 8), uint8_t(attid)};
    packet.insert(packet.end(), value.begin(), value.end());
    return packet;
}

// The first three bytes plus value of an answer, cut to its length field.
inline Bytes packetOf(const Bytes &report) {
    if (report.empty())
        return {};
    const size_t length = report[0] & 0x3F;
    return Bytes(report.begin(), report.begin() + std::min(length, report.size()));
}

// Writes the packet and returns the answer packet (empty when none came).
inline Bytes transact(hid_device *dev, const Bytes &packet, int timeoutMs = 1000) {
    if (writePacket(dev, packet) != 65)
        return {};
    return packetOf(readReport(dev, timeoutMs));
}

inline Bytes readValue(hid_device *dev, uint16_t attid) {
    return transact(dev, readRequest(attid));
}

inline Bytes okRead(const Bytes &value) {
    Bytes packet{uint8_t(3 + value.size()), 0x13, 0x01};
    packet.insert(packet.end(), value.begin(), value.end());
    return packet;
}

inline Bytes le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

const Bytes kWriteOk{0x03, 0x12, 0x01};
const Bytes kWriteFail{0x03, 0x12, 0x00};
const Bytes kReadFail{0x03, 0x13, 0x00};

}  // namespace emutest

#endif
