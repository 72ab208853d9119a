#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "KorService.h"
#include "PacketQueue.h"
#include "emu_helpers.h"
#include "hid_read_probe.h"

using namespace korvane;

namespace {

const uint16_t kServed = 0x7000;  // an attribute the test device serves
const char kPath[] = "/dev/emu-a";

// An open link to one emulated board with a service on it.
class Service : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        dev = addDevice("Vanta", "VT-1", kPath);
        setAttribute(dev, kServed, {0x11, 0x22, 0x33, 0x44});
        ASSERT_FALSE(link.open(kPath));
        service.reset(new KorService(&link));
    }
    void TearDown() override {
        service.reset();
        link.close();
        EmuTest::TearDown();
    }

    // Injects the reports and waits (bounded) until the receive thread has
    // read taken of them; the rest stay with the device.
    void injectAndAwaitRead(const std::vector<Bytes> &reports, long taken) {
        const long before = hid_probe::reportsRead(kPath);
        for (const Bytes &report : reports)
            injectReport(dev, report);
        ASSERT_EQ(before + taken, hid_probe::awaitReportsRead(kPath, before + taken));
    }

    Attribute attributeWith(uint16_t attid, uint32_t value) {
        Attribute attribute(attid, 0, 0);
        attribute.setValue(value);
        return attribute;
    }

    int dev = -1;
    KorDevice link;
    std::unique_ptr<KorService> service;
};

TEST_F(Service, RequestsOnTheWire) {
    Attribute levels(ATT_GPIO0_BASE + ATT_GPIO_RW, 0, 0);
    levels.setValue(static_cast<uint8_t>(0x2A));
    service->writeAttribute(levels);
    Attribute ports(ATT_USB_PORT_CTRL, 0, 0);
    ports.setValue(static_cast<uint16_t>(0x1234));
    service->writeAttribute(ports);
    Attribute voltage(ATT_VOLTAGE, 0, 0);
    service->readAttribute(&voltage);

    std::vector<Bytes> expected = {{0x05, 0x12, 0x12, 0x03, 0x2A},
                                   {0x06, 0x12, 0x80, 0x00, 0x34, 0x12},
                                   {0x04, 0x13, 0x81, 0x01}};
    std::vector<Bytes> reports = hostReports(dev);
    ASSERT_EQ(expected.size(), reports.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        expected[i].resize(64, 0);  // zero padding after the packet
        EXPECT_EQ(expected[i], reports[i]) << "request " << i;
    }
}

TEST_F(Service, ReadStoresTheAnswerValue) {
    Attribute served(kServed, 0, 0);
    EXPECT_FALSE(service->readAttribute(&served));
    EXPECT_EQ(4, served.getValueLength());
    EXPECT_EQ(0x44332211u, served.getValueUint32());
}

struct AnswerCase {
    const char *name;
    Bytes answer;
    bool failed;
    Bytes stored;  // value after a successful read
};

class ReadAnswers : public Service, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ReadAnswers, AcceptOrLeaveUnchanged) {
    setRawAnswer(dev, kServed, GetParam().answer);
    Attribute target = attributeWith(kServed, 0xA5A5A5A5);
    EXPECT_EQ(GetParam().failed, service->readAttribute(&target));
    if (GetParam().failed) {
        EXPECT_EQ(4, target.getValueLength());
        EXPECT_EQ(0xA5A5A5A5u, target.getValueUint32());
    } else {
        ASSERT_EQ(GetParam().stored.size(), target.getValueLength());
        EXPECT_EQ(GetParam().stored,
                  Bytes(target.rawBytes(), target.rawBytes() + target.getValueLength()));
    }
}

Bytes answerOf33Bytes() {
    Bytes answer = {0x24, 0x13, 0x01};
    answer.resize(3 + 33, 0x5A);
    return answer;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ReadAnswers,
    ::testing::Values(AnswerCase{"two_bytes", {0x05, 0x13, 0x01, 0xAA, 0xBB}, false, {0xAA, 0xBB}},
                      AnswerCase{"empty", {0x03, 0x13, 0x01}, false, {}},
                      AnswerCase{"bit6_set", {0x43, 0x13, 0x01}, true, {}},
                      AnswerCase{"length_below_3", {0x02, 0x13, 0x01}, true, {}},
                      AnswerCase{"33_value_bytes", answerOf33Bytes(), true, {}},
                      AnswerCase{"rc_fail", {0x07, 0x13, 0x00, 1, 2, 3, 4}, true, {}},
                      AnswerCase{"write_echo", {0x03, 0x12, 0x01}, true, {}}),
    [](const ::testing::TestParamInfo<AnswerCase> &info) { return std::string(info.param.name); });

class WriteAnswers : public Service, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(WriteAnswers, OnlyExactConfirmationSucceeds) {
    setRawAnswer(dev, kServed, GetParam().answer);
    Attribute source = attributeWith(kServed, 0x01020304);
    EXPECT_EQ(GetParam().failed, service->writeAttribute(source));
    EXPECT_EQ(0x01020304u, source.getValueUint32());
}

INSTANTIATE_TEST_SUITE_P(Rules, WriteAnswers,
                         ::testing::Values(AnswerCase{"confirmed", {0x03, 0x12, 0x01}, false, {}},
                                           AnswerCase{"rc_fail", {0x03, 0x12, 0x00}, true, {}},
                                           AnswerCase{"length_4", {0x04, 0x12, 0x01}, true, {}},
                                           AnswerCase{"read_echo", {0x03, 0x13, 0x01}, true, {}}),
                         [](const ::testing::TestParamInfo<AnswerCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(Service, NotificationsBetweenRequestAndAnswerAreSkipped) {
    emu_set_notifications_before_answer(dev, 3);
    Attribute served(kServed, 0, 0);
    EXPECT_FALSE(service->readAttribute(&served));
    EXPECT_EQ(0x44332211u, served.getValueUint32());
    EXPECT_FALSE(service->writeAttribute(attributeWith(kServed, 7)));
}

// Reports that came while no transaction ran (one stray; a full queue with
// more still in the link) never answer the next request: each read gets its
// own answer. With the queue full the receive thread reads no further.
TEST_F(Service, StaleReportsNeverAnswerTheNextRequest) {
    for (uint8_t count : {1, 6}) {
        std::vector<Bytes> reports;
        for (uint8_t i = 1; i <= count; ++i)
            reports.push_back({0x04, 0x13, 0x01, i});
        injectAndAwaitRead(reports, std::min<long>(count, PacketQueue::kCapacity));
        for (int request = 0; request < 2; ++request) {
            Attribute served(kServed, 0, 0);
            ASSERT_FALSE(service->readAttribute(&served)) << int(count);
            EXPECT_EQ(0x44332211u, served.getValueUint32()) << int(count);
        }
    }
}

TEST_F(Service, ClosedLinkFailsAtOnceWithoutTraffic) {
    link.close();
    emu_log_clear(dev);
    Attribute target = attributeWith(kServed, 0x5A5A5A5A);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(service->readAttribute(&target));
    EXPECT_TRUE(service->writeAttribute(target));
    EXPECT_LT(secondsSince(start), 1.0);  // no wait bound spent: far below 1 s
    EXPECT_EQ(0x5A5A5A5Au, target.getValueUint32());
    EXPECT_EQ(0, emu_log_count(dev));

    // Reopened, the service goes on with the same link.
    ASSERT_FALSE(link.open(kPath));
    EXPECT_FALSE(service->readAttribute(&target));
    EXPECT_EQ(0x44332211u, target.getValueUint32());
}

TEST(ServiceWithoutDevice, NullDeviceAndNullAttributeAreRefused) {
    KorService service(nullptr);
    Attribute target(1, 0, 0);
    EXPECT_TRUE(service.readAttribute(&target));
    EXPECT_TRUE(service.writeAttribute(target));
    EXPECT_TRUE(service.readAttribute(nullptr));
}

TEST_F(Service, MutedDeviceWaitIsBounded) {
    emu_set_mute(dev, 1);
    Attribute target = attributeWith(kServed, 0x5A5A5A5A);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(service->readAttribute(&target));
    const double waited = secondsSince(start);
    EXPECT_GE(waited, 0.99);
    EXPECT_LT(waited, 5.0);
    EXPECT_EQ(0x5A5A5A5Au, target.getValueUint32());
    EXPECT_EQ(4, target.getValueLength());

    // A late answer cannot come through a link opened again: no waiting for it.
    emu_set_mute(dev, 0);
    ASSERT_FALSE(link.close());
    ASSERT_FALSE(link.open(kPath));
    const auto reopened = std::chrono::steady_clock::now();
    EXPECT_FALSE(service->readAttribute(&target));
    // One transaction of about a millisecond; waiting out the late-answer
    // grace (0.5 s) would show as half a second or more.
    EXPECT_LT(secondsSince(reopened), 0.45);
    EXPECT_EQ(0x44332211u, target.getValueUint32());
}

TEST_F(Service, LateAnswerIsNotTakenByTheNextRequest) {
    setAttribute(dev, ATT_VOLTAGE, {0xAA, 0xAA, 0xAA, 0xAA});
    setAttribute(dev, ATT_CURRENT, {0xCC, 0xCC, 0xCC, 0xCC});
    emu_set_answer_delay(dev, 1250);  // after the wait bound, within the grace
    const long readBefore = hid_probe::reportsRead(kPath);
    Attribute voltage(ATT_VOLTAGE, 0, 0);
    EXPECT_TRUE(service->readAttribute(&voltage));
    EXPECT_EQ(1, voltage.getValueLength());

    emu_set_answer_delay(dev, 0);
    Attribute current(ATT_CURRENT, 0, 0);
    EXPECT_FALSE(service->readAttribute(&current));
    EXPECT_EQ(0xCCCCCCCCu, current.getValueUint32());
    // Nothing stale is left behind for a request after the late answer came:
    // the receive thread has read both the late answer and the current's.
    ASSERT_EQ(readBefore + 2, hid_probe::awaitReportsRead(kPath, readBefore + 2));
    Attribute again(ATT_CURRENT, 0, 0);
    EXPECT_FALSE(service->readAttribute(&again));
    EXPECT_EQ(0xCCCCCCCCu, again.getValueUint32());
}

TEST_F(Service, StaleReportAlreadyQueuedAfterTimeoutIsDropped) {
    emu_set_mute(dev, 1);
    Attribute target(kServed, 0, 0);
    EXPECT_TRUE(service->readAttribute(&target));
    emu_set_mute(dev, 0);
    injectAndAwaitRead({{0x07, 0x13, 0x01, 0xEE, 0xEE, 0xEE, 0xEE}}, 1);  // arrives after the bound
    EXPECT_FALSE(service->readAttribute(&target));
    EXPECT_EQ(0x44332211u, target.getValueUint32());
}

TEST_F(Service, CloseDuringTrafficIsSafe) {
    std::atomic<bool> stop{false};
    std::atomic<int> done{0};
    std::thread traffic([&] {
        Attribute target(kServed, 0, 0);
        while (!stop.load() && done.load() < 5000) {
            service->readAttribute(&target);
            ++done;
        }
    });
    // Bounded waits for the traffic to run, before and after the close.
    auto awaitDone = [&done](int count) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (done.load() < count && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::yield();
        }
    };
    awaitDone(20);
    EXPECT_FALSE(link.close());
    const int atClose = done.load();
    awaitDone(atClose + 20);  // calls on the closed link fail at once
    stop = true;
    traffic.join();
    EXPECT_GT(done.load(), 0);
    EXPECT_FALSE(link.isOpen());
}

TEST_F(Service, UnplugDuringTransactionEndsTheWaitAtOnce) {
    // The answer would come only after the 1 s wait bound, so only the
    // receive thread seeing the link gone can end the wait early; the unplug
    // lands once the request is seen.
    emu_set_answer_delay(dev, 5000);
    emu_log_clear(dev);
    bool requestSeen = false;
    std::chrono::steady_clock::time_point unpluggedAt;
    std::thread unplug([&] {
        requestSeen = waitForRequests(dev, 1, std::chrono::seconds(10));
        unpluggedAt = std::chrono::steady_clock::now();
        emu_unplug(dev);
    });
    Attribute target = attributeWith(kServed, 0x5A5A5A5A);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(service->readAttribute(&target));
    const auto returned = std::chrono::steady_clock::now();
    unplug.join();
    ASSERT_TRUE(requestSeen);
    // Ended by the unplug, not by the wait bound: soon after the unplug, and
    // before the bound (counted from after the request went out) could end it.
    EXPECT_TRUE(unpluggedAt < returned) << "the call ended before the unplug";
    EXPECT_LT(std::chrono::duration<double>(returned - unpluggedAt).count(), 0.5);
    EXPECT_LT(std::chrono::duration<double>(returned - start).count(), 1.0);
    EXPECT_EQ(0x5A5A5A5Au, target.getValueUint32());
}

TEST_F(Service, DestroyingWithAFullQueueEndsPromptly) {
    std::vector<Bytes> reports;
    for (uint8_t i = 0; i < 8; ++i)
        reports.push_back({0x04, 0x13, 0x01, i});
    injectAndAwaitRead(reports, 4);  // four queued, the receive thread waits for room
    const auto start = std::chrono::steady_clock::now();
    service.reset();
    EXPECT_LT(secondsSince(start), 1.0);
    EXPECT_TRUE(link.isOpen());  // destroying the service leaves the link alone
}

TEST_F(Service, IdleServiceStopsPromptly) {
    const auto start = std::chrono::steady_clock::now();
    service.reset();
    EXPECT_LT(secondsSince(start), 1.0);
}

}  // namespace
