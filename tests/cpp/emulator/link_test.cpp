// The hidraw-like link: opening and closing, report framing, blocking and
// non-blocking reads, concurrent use, unplugging, errors and the rest of the
// hidapi surface.
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "EmuTestSupport.h"
#include "thread_state.h"

using namespace emutest;
using Clock = std::chrono::steady_clock;

namespace {

long msSince(Clock::time_point start) {
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class Link : public EmuTest {};

// The acceptance case: the product name of a Vanta through raw hid_* calls.
TEST_F(Link, ReadsTheProductNameOfAVanta) {
    const int dev = emu_add_device("Vanta", "VT-0001", nullptr);
    hid_device_info *list = hid_enumerate(0x04D8, 0xECD0);
    ASSERT_NE(list, nullptr);
    hid_device *h = hid_open_path(list->path);
    hid_free_enumeration(list);
    ASSERT_NE(h, nullptr);

    unsigned char report[65] = {0x00, 0x04, 0x13, 0x00, 0x01};
    ASSERT_EQ(hid_write(h, report, 65), 65);
    unsigned char answer[65] = {0};
    ASSERT_EQ(hid_read_timeout(h, answer, sizeof answer, 1000), 64);
    EXPECT_EQ(answer[1], 0x13);
    EXPECT_EQ(answer[2], 0x01);  // RC_OK
    EXPECT_EQ(answer[0] & 0x3F, 3 + 6);
    EXPECT_STREQ(reinterpret_cast<const char *>(answer + 3), "Vanta");
    hid_close(h);
    EXPECT_EQ(emu_open_handle_count(), 0);
    (void)dev;
}

TEST_F(Link, OpensByIdsSerialAndPath) {
    emu_add_device("Brondel HUB", "BH-1", nullptr);
    emu_add_device("Vanta", "VT-1", nullptr);
    emu_add_device("Vanta", "VT-2", "/dev/second");

    Handle first(hid_open(0x04D8, 0xECD0, nullptr));
    ASSERT_TRUE(first);
    EXPECT_EQ(std::string(hid_get_device_info(first.get())->path), "/dev/emu-hidraw0");

    Handle bySerial(hid_open(0x04D8, 0xECD0, L"VT-2"));
    ASSERT_TRUE(bySerial);
    EXPECT_EQ(std::string(hid_get_device_info(bySerial.get())->path), "/dev/second");

    Handle byPath(hid_open_path("/dev/emu-hidraw1"));
    ASSERT_TRUE(byPath);
    wchar_t text[64];
    ASSERT_EQ(hid_get_serial_number_string(byPath.get(), text, 64), 0);
    EXPECT_STREQ(text, L"VT-1");
    ASSERT_EQ(hid_get_product_string(byPath.get(), text, 64), 0);
    EXPECT_STREQ(text, L"Vanta");
    ASSERT_EQ(hid_get_manufacturer_string(byPath.get(), text, 64), 0);
    EXPECT_STREQ(text, L"Korvane Emulated");
    ASSERT_EQ(hid_get_product_string(byPath.get(), text, 3), 0);
    EXPECT_STREQ(text, L"Va");  // cut to the buffer, terminated

    EXPECT_EQ(emu_open_handle_count(), 3);
    EXPECT_EQ(hid_open(0x04D8, 0xECD0, L"VT-3"), nullptr);
    EXPECT_EQ(hid_open(0x04D8, 0xECD1, nullptr), nullptr);
    EXPECT_EQ(hid_open(0, 0, nullptr), nullptr);  // ids are compared exactly
    EXPECT_EQ(hid_open_path("/dev/none"), nullptr);
    EXPECT_EQ(hid_open_path(nullptr), nullptr);
    EXPECT_NE(hid_error(nullptr), nullptr);
}

TEST_F(Link, RefusingDeviceDoesNotOpenUntilAllowed) {
    const int dev = emu_add_device("DMM", "DM-1", nullptr);
    emu_set_refuse_open(dev, 1);
    EXPECT_EQ(hid_open_path(pathOf(dev).c_str()), nullptr);
    EXPECT_EQ(hid_open(0x04D8, 0xECD0, L"DM-1"), nullptr);
    EXPECT_NE(hid_error(nullptr), nullptr);
    EXPECT_EQ(emu_open_handle_count(), 0);
    emu_set_refuse_open(dev, 0);
    EXPECT_TRUE(openDevice(dev));
}

TEST_F(Link, WriteDropsReportNumberZeroAndPadsTo64Bytes) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);

    const unsigned char shortReport[3] = {0x00, 0xAB, 0xCD};
    EXPECT_EQ(hid_write(h.get(), shortReport, sizeof shortReport), 3);
    unsigned char full[65];
    for (int i = 0; i < 65; ++i)
        full[i] = uint8_t(i);
    full[0] = 0;
    EXPECT_EQ(hid_write(h.get(), full, 65), 65);

    emu_log_entry e;
    ASSERT_EQ(emu_log_get(dev, 0, &e), 0);
    EXPECT_EQ(e.kind, EMU_LOG_HOST_REPORT);
    EXPECT_EQ(e.report[0], 0xAB);
    EXPECT_EQ(e.report[1], 0xCD);
    for (int i = 2; i < 64; ++i)
        ASSERT_EQ(e.report[i], 0) << i;
    ASSERT_EQ(emu_log_get(dev, 2, &e), 0);  // entry 1 is the device's answer
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(e.report[i], i + 1) << i;

    EXPECT_EQ(hid_write(h.get(), full, 0), -1);
    EXPECT_EQ(hid_write(h.get(), nullptr, 65), -1);
    unsigned char tooLong[66] = {0};
    EXPECT_EQ(hid_write(h.get(), tooLong, sizeof tooLong), -1);
    EXPECT_NE(hid_error(h.get()), nullptr);
}

TEST_F(Link, ReadGivesTheReportWithoutReportNumberCutToTheBuffer) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    uint8_t injected[64];
    for (int i = 0; i < 64; ++i)
        injected[i] = uint8_t(0x80 + i);
    emu_inject_report(dev, injected, 64);
    emu_inject_report(dev, injected, 64);

    unsigned char buf[65];
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(hid_read_timeout(h.get(), buf, sizeof buf, 1000), 64);
    EXPECT_EQ(std::memcmp(buf, injected, 64), 0);
    EXPECT_EQ(buf[64], 0xEE);  // nothing beyond the 64 report bytes

    unsigned char small[10];
    ASSERT_EQ(hid_read_timeout(h.get(), small, sizeof small, 1000), 10);
    EXPECT_EQ(std::memcmp(small, injected, 10), 0);
}

TEST_F(Link, NonBlockingReadReturnsZeroAtOnce) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    ASSERT_EQ(hid_set_nonblocking(h.get(), 1), 0);
    unsigned char buf[65];
    const auto start = Clock::now();
    EXPECT_EQ(hid_read(h.get(), buf, sizeof buf), 0);
    EXPECT_EQ(hid_read_timeout(h.get(), buf, sizeof buf, 0), 0);
    EXPECT_LT(msSince(start), 1000);

    ASSERT_EQ(writePacket(h.get(), readRequest(1)), 65);
    EXPECT_EQ(hid_read(h.get(), buf, sizeof buf), 64);  // an undelayed answer is there at once
}

TEST_F(Link, TimedReadWaitsForItsTimeout) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    unsigned char buf[65];
    const auto start = Clock::now();
    EXPECT_EQ(hid_read_timeout(h.get(), buf, sizeof buf, 150), 0);
    const long waited = msSince(start);
    EXPECT_GE(waited, 150);
    EXPECT_LT(waited, 2000);
}

TEST_F(Link, BlockingReadWakesWhenAReportArrives) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    std::atomic<pid_t> readerId{0};
    std::atomic<int> n{-2};
    std::promise<void> readReturned;
    std::future<void> returned = readReturned.get_future();
    unsigned char buf[65] = {0};
    std::thread reader([&] {
        readerId = thread_state::currentThreadId();
        n = hid_read(h.get(), buf, sizeof buf);  // blocking mode is the default
        readReturned.set_value();
    });
    // The report goes in once the reader is blocked waiting for one.
    EXPECT_BLOCKED(readerId);
    EXPECT_EQ(n.load(), -2);
    const uint8_t report[] = {0x04, 0xA0, 0x00, 0x00};
    emu_inject_report(dev, report, sizeof report);
    const bool woke = returned.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!woke)
        emu_unplug(dev);  // releases the read that the report did not end
    reader.join();
    ASSERT_TRUE(woke) << "the blocking read did not return on the report";
    EXPECT_EQ(n.load(), 64);
    EXPECT_EQ(buf[1], 0xA0);
}

TEST_F(Link, UnplugWakesABlockedReaderAndFailsTheHandle) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    std::atomic<int> result{1};
    std::atomic<pid_t> readerId{0};
    std::thread reader([&] {
        readerId = thread_state::currentThreadId();
        unsigned char buf[65];
        result = hid_read_timeout(h.get(), buf, sizeof buf, 10000);
    });
    EXPECT_BLOCKED(readerId);  // blocked in the read
    const auto start = Clock::now();
    emu_unplug(dev);
    reader.join();
    EXPECT_EQ(result.load(), -1);
    EXPECT_LT(msSince(start), 2000);

    EXPECT_EQ(writePacket(h.get(), readRequest(1)), -1);
    unsigned char buf[65];
    EXPECT_EQ(hid_read_timeout(h.get(), buf, sizeof buf, 0), -1);
    EXPECT_NE(hid_error(h.get()), nullptr);
    EXPECT_EQ(openDevice(dev), nullptr);

    emu_replug(dev);
    EXPECT_EQ(writePacket(h.get(), readRequest(1)), -1);  // the old handle stays dead
    Handle fresh = openDevice(dev);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(readValue(fresh.get(), 1), okRead({'V', 'a', 'n', 't', 'a', 0}));
    EXPECT_EQ(emu_open_handle_count(), 2);  // the dead handle counts until closed
}

TEST_F(Link, ResetKillsOpenHandles) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    emu_reset();
    EXPECT_EQ(writePacket(h.get(), readRequest(1)), -1);
    EXPECT_EQ(emu_open_handle_count(), 0);
}

// One thread reads while another writes on the same handle, the way the
// library's receive thread and caller share a link.
TEST_F(Link, ConcurrentReaderAndWriterSeeEveryAnswerInOrder) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    hid_set_nonblocking(h.get(), 1);
    constexpr int kRequests = 2000;
    for (int ch = 0; ch < 8; ++ch)
        emu_set_adc(dev, ch, uint32_t(1000 + ch));

    std::atomic<bool> stop{false};
    std::atomic<int> received{0};
    std::vector<uint32_t> seen;
    std::thread reader([&] {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (int(seen.size()) < kRequests && Clock::now() < deadline && !stop) {
            unsigned char buf[65];
            const int n = hid_read(h.get(), buf, sizeof buf);
            if (n < 0)
                break;
            if (n == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                continue;
            }
            seen.push_back(uint32_t(buf[3] | buf[4] << 8));
            ++received;
        }
    });
    std::thread controller([&] {  // control calls racing with the traffic
        for (int i = 0; i < 200 && !stop; ++i) {
            emu_log_count(dev);
            emu_set_gpio_external(dev, 1, uint32_t(i & 1));
        }
    });
    // At most 100 answers outstanding, well inside the input buffer, so
    // none is dropped for want of room.
    int written = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (int i = 0; i < kRequests && Clock::now() < deadline; ++i) {
        while (i - received.load() > 100 && Clock::now() < deadline)
            std::this_thread::yield();
        written += writePacket(h.get(), readRequest(uint16_t(0x1300 + i % 8))) == 65;
    }
    reader.join();
    stop = true;
    controller.join();

    EXPECT_EQ(written, kRequests);
    ASSERT_EQ(int(seen.size()), kRequests);
    for (int i = 0; i < kRequests; ++i)
        ASSERT_EQ(seen[size_t(i)], uint32_t(1000 + i % 8)) << "answer " << i;
}

TEST_F(Link, EveryOpenHandleReceivesEveryInputReport) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle a = openDevice(dev);
    Handle b = openDevice(dev);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(writePacket(a.get(), readRequest(2)), 65);
    EXPECT_EQ(packetOf(readReport(a.get())), okRead({'A', '1', 0}));
    EXPECT_EQ(packetOf(readReport(b.get())), okRead({'A', '1', 0}));
    b.reset();
    EXPECT_EQ(emu_open_handle_count(), 1);
}

TEST_F(Link, StateSurvivesHidExitAndHandlesStayUsable) {
    const int dev = emu_add_device("Vanta", "VT-1", nullptr);
    EXPECT_EQ(hid_init(), 0);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    EXPECT_EQ(hid_exit(), 0);
    EXPECT_EQ(hid_exit(), 0);
    EXPECT_EQ(readValue(h.get(), 3), okRead({'V', 'T', '-', '1', 0}));
    hid_device_info *list = hid_enumerate(0, 0);  // sets itself up again
    ASSERT_NE(list, nullptr);
    hid_free_enumeration(list);
    EXPECT_TRUE(openDevice(dev));
    EXPECT_EQ(hid_init(), 0);
}

TEST_F(Link, FeatureReportsComeBackAsSent) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    const unsigned char sent[5] = {0x02, 1, 2, 3, 4};
    EXPECT_EQ(hid_send_feature_report(h.get(), sent, sizeof sent), 5);
    unsigned char got[65] = {0x02};
    ASSERT_EQ(hid_get_feature_report(h.get(), got, sizeof got), 5);
    EXPECT_EQ(std::memcmp(got, sent, 5), 0);
    unsigned char other[65] = {0x07};
    EXPECT_EQ(hid_get_feature_report(h.get(), other, sizeof other), -1);
    unsigned char input[65] = {0};
    EXPECT_EQ(hid_get_input_report(h.get(), input, sizeof input), -1);
    wchar_t text[16];
    EXPECT_EQ(hid_get_indexed_string(h.get(), 1, text, 16), -1);
    EXPECT_NE(hid_error(h.get()), nullptr);
}

TEST_F(Link, ErrorIsNullUntilSomethingFailsAndVersionIs013) {
    const int dev = emu_add_device("Vanta", nullptr, nullptr);
    Handle h = openDevice(dev);
    ASSERT_TRUE(h);
    EXPECT_EQ(hid_error(h.get()), nullptr);
    EXPECT_EQ(hid_error(nullptr), nullptr);
    EXPECT_EQ(hid_open_path("/nowhere"), nullptr);
    ASSERT_NE(hid_error(nullptr), nullptr);
    EXPECT_GT(std::wcslen(hid_error(nullptr)), 0u);

    EXPECT_EQ(hid_version()->major, 0);
    EXPECT_EQ(hid_version()->minor, 13);
    EXPECT_EQ(std::string(hid_version_str()).rfind("0.13", 0), 0u);
    hid_close(nullptr);
    EXPECT_EQ(hid_write(nullptr, nullptr, 0), -1);
}

}  // namespace
