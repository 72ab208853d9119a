// Calls on one connection from several threads, a connection destroyed
// under a waiting call, one connection per device, and how transactions end
// (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "DeviceClaim.h"
#include "Dmm.h"
#include "KorService.h"
#include "Meter.h"
#include "Vanta.h"
#include "emu_helpers.h"

using namespace korvane;

namespace {

class ConnectionLock : public EmuTest {};

uint32_t maskOf(int dev, uint16_t attid) {
    uint8_t bytes[4] = {};
    EXPECT_EQ(4, emu_get_attribute(dev, attid, bytes, 4));
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

TEST_F(ConnectionLock, PinsOfOneBoardSetFromManyThreadsAllStick) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    Vanta board;
    ASSERT_FALSE(board.open());
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    uint32_t every = 0;
    for (uint8_t pin = 1; pin < 32; pin += 3) {
        every |= 1u << pin;
        threads.emplace_back([&board, &failures, pin] {
            failures += board.gpiohw.pinMode(pin, OUTPUT_PIN);
            failures += board.gpiohw.digitalWrite(pin, true);
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(~every, maskOf(dev, ATT_GPIO0_BASE + ATT_GPIO_INOUT_MODE));
    EXPECT_EQ(every, maskOf(dev, ATT_GPIO0_BASE + ATT_GPIO_RW));
}

TEST_F(ConnectionLock, DestroyingWaitsForTheCallInProgress) {
    const int dev = addDevice("DMM", "DM-1", "/dev/emu-m");
    auto meter = std::make_unique<Dmm>();
    ASSERT_FALSE(meter->open());
    emu_log_clear(dev);
    emu_set_mute(dev, 1);
    float reading = 0;
    std::thread waiter([&meter, &reading] { reading = meter->getVoltage(); });
    ASSERT_TRUE(waitForRequests(dev, 1));
    // Dmm *, not the unique_ptr, so that the waiter's read of the pointer
    // does not race with reset().
    Dmm *raw = meter.release();
    delete raw;
    waiter.join();
    EXPECT_FLOAT_EQ(-999.9f, reading);
    EXPECT_EQ(0, emu_open_handle_count());
}

TEST_F(ConnectionLock, ADeviceOpensInOneConnectionAtATime) {
    addDevice("DMM", "DM-1", "/dev/emu-m");
    Dmm first, second;
    ASSERT_FALSE(first.open());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(second.open());
    EXPECT_EQ("[ERR] Unable to open device\n", testing::internal::GetCapturedStderr());
    EXPECT_FALSE(second.isConnected());
    EXPECT_FALSE(first.close());
    EXPECT_FALSE(second.open());
    EXPECT_TRUE(first.open());
}

// A connection whose device went away no longer holds it: after the replug
// another connection opens it.
TEST_F(ConnectionLock, AGoneConnectionDoesNotHoldTheDevice) {
    const int dev = addDevice("DMM", "DM-1", "/dev/emu-m");
    Dmm first, second;
    ASSERT_FALSE(first.open());
    emu_unplug(dev);
    EXPECT_FLOAT_EQ(-999.9f, first.getVoltage());
    EXPECT_FALSE(first.isConnected());
    emu_replug(dev);
    EXPECT_FALSE(second.open());
    EXPECT_FLOAT_EQ(5.0f, second.getVoltage());
}

// A connection's open stops reading identity texts at the first silent one
// (the open of the module's interface reads all five whatever happens).
TEST_F(ConnectionLock, QuietOpenGivesUpOnASilentDevice) {
    const int dev = addDevice("DMM", "DM-1", "/dev/emu-m");
    emu_set_mute(dev, 1);
    Meter quiet;
    EXPECT_EQ(Connection::OpenStatus::Opened, quiet.open("/dev/emu-m"));
    EXPECT_EQ(1u, requests(dev).size());
}

// On a path that is a file (a device node on a real system), a claim also
// takes an advisory lock, which another holder of the file's lock (another
// process, here another open file description) keeps it from getting.
TEST(DeviceClaimLock, ANodeLockedElsewhereIsRefused) {
    char path[] = "/tmp/korvane-claim-XXXXXX";
    const int node = mkstemp(path);
    ASSERT_GE(node, 0);
    KorDevice holder;
    {
        auto claim = DeviceClaim::take(path, &holder);
        ASSERT_TRUE(claim);
        // This process's registry refuses a second claim on a live link
        // only; the node's lock refuses it whoever asks.
        EXPECT_NE(0, flock(node, LOCK_EX | LOCK_NB));
    }
    ASSERT_EQ(0, flock(node, LOCK_EX | LOCK_NB));
    KorDevice other;
    EXPECT_FALSE(DeviceClaim::take(path, &other));
    ASSERT_EQ(0, flock(node, LOCK_UN));
    EXPECT_TRUE(DeviceClaim::take(path, &other));
    close(node);
    unlink(path);
}

struct StatusCase {
    const char *name;
    void (*fault)(int dev);
    AttributeStatus expected;
    uint8_t returnCode;
};

class TransactionStatus : public EmuTest, public testing::WithParamInterface<StatusCase> {};

// A plain read-write attribute of the emulated device.
constexpr uint16_t kPlain = 0x7000;

TEST_P(TransactionStatus, ReadsAndWritesSayHowTheyEnded) {
    const int dev = addDevice("DMM", "DM-1", "/dev/emu-m");
    setAttribute(dev, kPlain, {0xAA, 0xBB});
    KorDevice link;
    KorService service(&link);
    if (GetParam().expected != AttributeStatus::NotOpen) {
        ASSERT_FALSE(link.open("/dev/emu-m"));
    }
    GetParam().fault(dev);
    Attribute value(kPlain, 0, 0);
    value.setValue(static_cast<uint16_t>(0x0102));
    const AttributeResult read = service.read(value);
    EXPECT_EQ(GetParam().expected, read.status);
    EXPECT_EQ(GetParam().returnCode, read.returnCode);
    const bool ok = GetParam().expected == AttributeStatus::Ok;
    EXPECT_EQ(ok ? 0xBBAA : 0x0102, value.getValueUint16()) << "a failed read leaves the value";
    EXPECT_EQ(GetParam().expected, service.write(value).status);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TransactionStatus,
    testing::Values(StatusCase{"answered", [](int) {}, AttributeStatus::Ok, RC_OK},
                    StatusCase{"not_open", [](int) {}, AttributeStatus::NotOpen, 0},
                    StatusCase{"refused", [](int dev) { emu_set_fail_attribute(dev, kPlain, 1); },
                               AttributeStatus::Refused, RC_FAIL},
                    StatusCase{"malformed",
                               [](int dev) {
                                   setRawAnswer(dev, kPlain, {0x43, 0x13, 0x01});
                               },
                               AttributeStatus::Malformed, 0},
                    StatusCase{"no_answer", [](int dev) { emu_set_mute(dev, 1); },
                               AttributeStatus::NoAnswer, 0},
                    StatusCase{"gone", [](int dev) { emu_unplug(dev); }, AttributeStatus::Gone, 0}),
    [](const testing::TestParamInfo<StatusCase> &info) { return std::string(info.param.name); });

}  // namespace
