// Injected faults and the traffic log.
#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <thread>

#include "EmuTestSupport.h"

using namespace emutest;
using Clock = std::chrono::steady_clock;

namespace {

class Faults : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        dev_ = emu_add_device("Vanta", "VT-1", nullptr);
        h_ = openDevice(dev_);
        ASSERT_TRUE(h_);
    }
    void TearDown() override {
        h_.reset();
        EmuTest::TearDown();
    }
    int dev_ = -1;
    Handle h_;
};

TEST_F(Faults, MutedDeviceTakesRequestsButNeverAnswers) {
    ASSERT_EQ(emu_set_mute(dev_, 1), 0);
    EXPECT_EQ(writePacket(h_.get(), readRequest(1)), 65);
    EXPECT_TRUE(readReport(h_.get(), 100).empty());
    EXPECT_EQ(emu_log_count(dev_), 1);  // the request arrived
    emu_set_mute(dev_, 0);
    EXPECT_EQ(readValue(h_.get(), 2), okRead({'A', '1', 0}));
}

TEST_F(Faults, DelayedAnswerIsReadableOnlyAfterTheDelay) {
    ASSERT_EQ(emu_set_answer_delay(dev_, 500), 0);
    EXPECT_EQ(emu_set_answer_delay(dev_, -1), -1);
    const auto start = Clock::now();
    ASSERT_EQ(writePacket(h_.get(), readRequest(2)), 65);
    EXPECT_TRUE(readReport(h_.get(), 0).empty());
    EXPECT_TRUE(readReport(h_.get(), 50).empty());
    EXPECT_EQ(packetOf(readReport(h_.get(), 5000)), okRead({'A', '1', 0}));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
              500);
}

TEST_F(Faults, ReportInjectedDuringADelayArrivesFirst) {
    emu_set_answer_delay(dev_, 500);
    ASSERT_EQ(writePacket(h_.get(), readRequest(2)), 65);
    const uint8_t stray[] = {0x07, 0x13, 0x01, 0xAA};
    ASSERT_EQ(emu_inject_report(dev_, stray, sizeof stray), 0);
    EXPECT_EQ(readReport(h_.get(), 1000).at(3), 0xAA);
    EXPECT_EQ(packetOf(readReport(h_.get(), 5000)), okRead({'A', '1', 0}));
}

TEST_F(Faults, FailingAttributeAnswersRcFailAndIsNotCarriedOut) {
    ASSERT_EQ(emu_set_fail_attribute(dev_, 0x1203, 1), 0);
    EXPECT_EQ(readValue(h_.get(), 0x1203), kReadFail);
    EXPECT_EQ(transact(h_.get(), writeRequest(0x1200, le32(0))), kWriteOk);
    EXPECT_EQ(transact(h_.get(), writeRequest(0x1203, le32(1))), kWriteFail);
    EXPECT_EQ(readValue(h_.get(), 0x1202), okRead(le32(0)));  // other attributes unaffected
    emu_set_fail_attribute(dev_, 0x1203, 0);
    EXPECT_EQ(readValue(h_.get(), 0x1203), okRead(le32(0)));  // the refused write changed nothing
}

TEST_F(Faults, RawAnswerReplacesTheComputedOne) {
    const uint8_t raw[] = {0x43, 0x13, 0x01, 0x55};
    ASSERT_EQ(emu_set_raw_answer(dev_, 0x1300, raw, sizeof raw), 0);
    ASSERT_EQ(writePacket(h_.get(), readRequest(0x1300)), 65);
    const Bytes report = readReport(h_.get());
    ASSERT_EQ(report.size(), 64u);
    EXPECT_EQ(Bytes(report.begin(), report.begin() + 5), (Bytes{0x43, 0x13, 0x01, 0x55, 0x00}));
    EXPECT_EQ(readValue(h_.get(), 0x1301), okRead(le32(600)));  // only that attribute
    ASSERT_EQ(emu_set_raw_answer(dev_, 0x1300, nullptr, -1), 0);
    EXPECT_EQ(readValue(h_.get(), 0x1300), okRead(le32(100)));
    EXPECT_EQ(emu_set_raw_answer(dev_, 0x1300, raw, 65), -1);
}

TEST_F(Faults, NotificationsComeBeforeEachAnswer) {
    ASSERT_EQ(emu_set_notifications_before_answer(dev_, 2), 0);
    ASSERT_EQ(writePacket(h_.get(), readRequest(0x1302)), 65);
    for (int i = 0; i < 2; ++i) {
        const Bytes n = readReport(h_.get());
        ASSERT_EQ(n.size(), 64u);
        EXPECT_EQ(n[1], 0xA0);
        EXPECT_EQ(n[2], 0x13);
        EXPECT_EQ(n[3], 0x02);
    }
    EXPECT_EQ(packetOf(readReport(h_.get())), okRead(le32(1100)));
    EXPECT_TRUE(readReport(h_.get(), 0).empty());
}

// A one-shot fault changes the next answer it fits and no other. The log
// holds what was sent, in the order it was sent, which a delay makes differ
// from the order it is read.
struct OneShotCase {
    const char *name;
    std::function<int(int)> arm;
    std::function<int(int)> refused;  // an out-of-range argument or an unknown device
    std::vector<Bytes> requests;      // written back to back
    std::vector<Bytes> read;          // the reports read afterwards, in order
    std::vector<Bytes> sent;          // the device reports logged; empty: as read
};

class OneShotFaults : public Faults, public ::testing::WithParamInterface<OneShotCase> {};

TEST_P(OneShotFaults, ChangeTheNextFittingAnswerOnly) {
    const OneShotCase &c = GetParam();
    const auto full = [](Bytes b) {
        b.resize(64);  // the whole report: the bytes after the answer are zero
        return b;
    };
    EXPECT_EQ(c.refused(dev_), -1);
    ASSERT_EQ(c.arm(dev_), 0);
    for (const Bytes &request : c.requests)
        ASSERT_EQ(writePacket(h_.get(), request), 65);
    std::vector<Bytes> read, sent, expectedRead, expectedSent;
    for (size_t i = 0; i < c.read.size(); ++i)
        read.push_back(readReport(h_.get(), 10000));
    EXPECT_TRUE(readReport(h_.get(), 0).empty());
    emu_log_entry e;
    for (int i = 0; emu_log_get(dev_, i, &e) == 0; ++i)
        if (e.kind == EMU_LOG_DEVICE_REPORT)
            sent.push_back(Bytes(e.report, e.report + 64));
    std::transform(c.read.begin(), c.read.end(), std::back_inserter(expectedRead), full);
    const std::vector<Bytes> &logged = c.sent.empty() ? c.read : c.sent;
    std::transform(logged.begin(), logged.end(), std::back_inserter(expectedSent), full);
    EXPECT_EQ(read, expectedRead);
    EXPECT_EQ(sent, expectedSent);
}

INSTANTIATE_TEST_SUITE_P(Each, OneShotFaults,
                         ::testing::Values(
                             // The second request is written well within the second of delay.
                             OneShotCase{"DelayLetsTheNextAnswerOvertake",
                                         [](int d) { return emu_delay_next_answer(d, 1000); },
                                         [](int d) { return emu_delay_next_answer(d, 600001); },
                                         {readRequest(2), readRequest(0x1300)},
                                         {okRead(le32(100)), okRead({'A', '1', 0})},
                                         {okRead({'A', '1', 0}), okRead(le32(100))}},
                             OneShotCase{"ResizeCutsAReadingOnce",
                                         [](int d) { return emu_resize_next_answer(d, 2); },
                                         [](int d) { return emu_resize_next_answer(d, 62); },
                                         {readRequest(0x1300), readRequest(0x1301)},
                                         {{0x05, 0x13, 0x01, 0x64, 0x00}, okRead(le32(600))},
                                         {}},
                             OneShotCase{"ResizeToNoValueWaitsForASuccess",
                                         [](int d) { return emu_resize_next_answer(d, 0); },
                                         [](int d) { return emu_resize_next_answer(d, -1); },
                                         {readRequest(0x9999), readRequest(0x1300)},
                                         {kReadFail, {0x03, 0x13, 0x01}},
                                         {}},
                             OneShotCase{"ResizePadsAWriteAnswer",
                                         [](int d) { return emu_resize_next_answer(d, 5); },
                                         [](int d) { return emu_resize_next_answer(d + 1, 5); },
                                         {writeRequest(0x1203, {0})},
                                         {{0x08, 0x12, 0x01, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5}},
                                         {}},
                             OneShotCase{"DuplicateSendsTheNextAnswerTwice",
                                         [](int d) { return emu_duplicate_next_answer(d); },
                                         [](int d) { return emu_duplicate_next_answer(d + 1); },
                                         {readRequest(0x1300), readRequest(0x1301)},
                                         {okRead(le32(100)), okRead(le32(100)), okRead(le32(600))},
                                         {}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Faults, InjectedReportsNeedAPluggedDevice) {
    const uint8_t note[] = {0x04, 0xA0, 0x00, 0x00};
    EXPECT_EQ(emu_inject_report(dev_, note, 65), -1);
    emu_unplug(dev_);
    EXPECT_EQ(emu_inject_report(dev_, note, sizeof note), -1);
    EXPECT_EQ(emu_inject_report(42, note, sizeof note), -1);
}

TEST_F(Faults, UnknownDeviceIsRefusedByEveryControlCall) {
    EXPECT_EQ(emu_set_mute(7, 1), -1);
    EXPECT_EQ(emu_set_answer_delay(-1, 1), -1);
    EXPECT_EQ(emu_unplug(7), -1);
    EXPECT_EQ(emu_replug(7), -1);
    EXPECT_EQ(emu_log_count(7), -1);
    EXPECT_EQ(emu_set_gpio_external(7, 0, 0), -1);
    EXPECT_EQ(emu_add_i2c_target(emu_add_device("Brondel HUB", nullptr, nullptr), 0x40),
              -1);  // no bridge
}

TEST_F(Faults, InputQueueKeepsTheNewest1024Reports) {
    for (int i = 0; i < 1100; ++i) {
        const uint8_t report[] = {uint8_t(i), uint8_t(i >> 8)};
        ASSERT_EQ(emu_inject_report(dev_, report, 2), 0);
    }
    int count = 0;
    int first = -1;
    for (Bytes r; !(r = readReport(h_.get(), 0)).empty(); ++count)
        if (first < 0)
            first = r[0] | r[1] << 8;
    EXPECT_EQ(count, 1024);
    EXPECT_EQ(first, 1100 - 1024);
}

TEST_F(Faults, LogRecordsBothDirectionsWithParsedFields) {
    ASSERT_EQ(transact(h_.get(), writeRequest(0x1203, {0x2A})), kWriteOk);
    ASSERT_EQ(readValue(h_.get(), 0x1300), okRead(le32(100)));
    const uint8_t note[] = {0x04, 0xA0};
    emu_inject_report(dev_, note, 2);

    ASSERT_EQ(emu_log_count(dev_), 5);
    emu_log_entry e;
    ASSERT_EQ(emu_log_get(dev_, 0, &e), 0);
    EXPECT_EQ(e.kind, EMU_LOG_HOST_REPORT);
    EXPECT_EQ(Bytes(e.report, e.report + 6), (Bytes{0x05, 0x12, 0x12, 0x03, 0x2A, 0x00}));
    EXPECT_EQ(e.opcode, 0x12);
    EXPECT_EQ(e.attid, 0x1203);
    EXPECT_EQ(Bytes(e.value, e.value + e.value_len), Bytes{0x2A});

    ASSERT_EQ(emu_log_get(dev_, 1, &e), 0);
    EXPECT_EQ(e.kind, EMU_LOG_DEVICE_REPORT);
    EXPECT_EQ(Bytes(e.report, e.report + 3), kWriteOk);
    EXPECT_EQ(e.opcode, 0x12);
    EXPECT_EQ(e.attid, 0x1203);

    ASSERT_EQ(emu_log_get(dev_, 2, &e), 0);
    EXPECT_EQ(e.opcode, 0x13);
    EXPECT_EQ(e.value_len, 0);
    ASSERT_EQ(emu_log_get(dev_, 3, &e), 0);
    EXPECT_EQ(e.kind, EMU_LOG_DEVICE_REPORT);
    EXPECT_EQ(Bytes(e.value, e.value + e.value_len), le32(100));
    ASSERT_EQ(emu_log_get(dev_, 4, &e), 0);
    EXPECT_EQ(e.opcode, 0xA0);
    EXPECT_EQ(e.attid, 0);

    EXPECT_EQ(emu_log_get(dev_, 5, &e), -1);
    EXPECT_EQ(emu_log_get(dev_, -1, &e), -1);
    EXPECT_EQ(emu_log_clear(dev_), 0);
    EXPECT_EQ(emu_log_count(dev_), 0);
}

TEST_F(Faults, MalformedHostReportIsLoggedWithoutParsedFields) {
    ASSERT_EQ(transact(h_.get(), {0x09, 0x13, 0x00, 0x01}), kReadFail);
    emu_log_entry e;
    ASSERT_EQ(emu_log_get(dev_, 0, &e), 0);
    EXPECT_EQ(e.opcode, 0);
    EXPECT_EQ(e.report[0], 0x09);
}

TEST_F(Faults, LogKeepsTheNewestHundredThousandEntries) {
    emu_set_mute(dev_, 1);  // host reports only: one entry per write
    for (int i = 0; i < 100005; ++i)
        ASSERT_EQ(writePacket(h_.get(), readRequest(uint16_t(i))), 65);
    ASSERT_EQ(emu_log_count(dev_), 100000);
    emu_log_entry e;
    ASSERT_EQ(emu_log_get(dev_, 0, &e), 0);
    EXPECT_EQ(e.attid, 5);
}

}  // namespace
