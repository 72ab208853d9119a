#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "KorDevice.h"
#include "emu_helpers.h"

using namespace korvane;

// Counts the library's calls of hid_exit and passes them on to the emulated
// hidapi (whose own hid_exit leaves open handles usable, so a premature call
// would not show otherwise).
static std::atomic<int> hidExitCalls{0};
extern "C" int hid_exit(void) {
    ++hidExitCalls;
    using Exit = int (*)(void);
    static const Exit next = reinterpret_cast<Exit>(dlsym(RTLD_NEXT, "hid_exit"));
    return next != nullptr ? next() : 0;
}

namespace {

const char kOpenFailed[] = "[ERR] Unable to open device\n";

class DeviceLink : public EmuTest {
protected:
    // Reads until a report arrives; bounded.
    int readWithin(KorDevice &link, uint8_t *buffer, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        int got = 0;
        while ((got = link.read(buffer)) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return got;
    }
};

TEST_F(DeviceLink, OpenFormsFindTheirDevice) {
    const int first = addDevice("Vanta", "VT-1", "/dev/emu-a");
    const int second = addDevice("Vanta", "VT-2", "/dev/emu-b");
    wchar_t serial[] = L"VT-2";
    struct Case {
        const char *name;
        bool (*open)(KorDevice &, wchar_t *);
        int expectedDevice;
    } cases[] = {
        {"ids", [](KorDevice &d, wchar_t *) { return d.open(USB_VID_PIC, USB_PID_PIC); }, first},
        {"ids and null serial",
         [](KorDevice &d, wchar_t *) { return d.open(USB_VID_PIC, USB_PID_PIC, nullptr); }, first},
        {"ids and serial",
         [](KorDevice &d, wchar_t *s) { return d.open(USB_VID_PIC, USB_PID_PIC, s); }, second},
        {"path", [](KorDevice &d, wchar_t *) { return d.open("/dev/emu-b"); }, second},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        emu_log_clear(first);
        emu_log_clear(second);
        KorDevice link;
        ASSERT_FALSE(c.open(link, serial));
        EXPECT_TRUE(link.isOpen());
        uint8_t payload[4] = {0x04, 0x13, 0x00, 0x01};
        EXPECT_FALSE(link.write(payload, 4));
        EXPECT_EQ(1u, hostReports(c.expectedDevice).size());
        EXPECT_EQ(0u, hostReports(c.expectedDevice == first ? second : first).size());
    }
}

TEST_F(DeviceLink, FailedOpenPrintsOnceAndStaysClosed) {
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    wchar_t unknownSerial[] = L"nope";
    KorDevice link;
    for (int form = 0; form < 3; ++form) {
        testing::internal::CaptureStderr();
        bool failed = form == 0   ? link.open("/dev/missing")
                      : form == 1 ? link.open(0x1234, 0x5678)
                                  : link.open(USB_VID_PIC, USB_PID_PIC, unknownSerial);
        EXPECT_EQ(kOpenFailed, testing::internal::GetCapturedStderr()) << "form " << form;
        EXPECT_TRUE(failed);
        EXPECT_FALSE(link.isOpen());
    }
}

TEST_F(DeviceLink, RefusedDeviceFailsToOpen) {
    const int dev = addDevice("DMM", "M-1", "/dev/emu-m");
    emu_set_refuse_open(dev, 1);
    KorDevice link;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(link.open("/dev/emu-m"));
    EXPECT_EQ(kOpenFailed, testing::internal::GetCapturedStderr());
    EXPECT_EQ(0, emu_open_handle_count());
}

TEST_F(DeviceLink, NullArgumentsAreRefusedWithoutMessage) {
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    KorDevice link;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(link.open(static_cast<char const *>(nullptr)));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    uint8_t buffer[BUF_LEN];
    EXPECT_EQ(-1, link.read(buffer));  // closed link
    ASSERT_FALSE(link.open("/dev/emu-a"));
    EXPECT_EQ(-1, link.read(nullptr));
    EXPECT_TRUE(link.write(nullptr, 4));
}

TEST_F(DeviceLink, WriteSendsOneFramedReportOfAtMost64Bytes) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    KorDevice link;
    ASSERT_FALSE(link.open("/dev/emu-a"));
    uint8_t payload[BUF_LEN];
    for (int i = 0; i < BUF_LEN; ++i) {
        payload[i] = static_cast<uint8_t>(0x80 + i);
    }
    EXPECT_TRUE(link.write(payload, 65));
    EXPECT_EQ(0u, hostReports(dev).size());

    EXPECT_FALSE(link.write(payload, 64));
    EXPECT_FALSE(link.write(payload, 3));
    EXPECT_FALSE(link.write(payload, 0));
    const std::vector<Bytes> reports = hostReports(dev);
    ASSERT_EQ(3u, reports.size());
    EXPECT_EQ(Bytes(payload, payload + 64), reports[0]);
    Bytes three(64, 0);
    std::copy(payload, payload + 3, three.begin());
    EXPECT_EQ(three, reports[1]);  // padding is zero
    EXPECT_EQ(Bytes(64, 0), reports[2]);
}

TEST_F(DeviceLink, ReadIsNonBlockingAndDropsReportNumber) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    KorDevice link;
    ASSERT_FALSE(link.open("/dev/emu-a"));
    uint8_t buffer[BUF_LEN] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, link.read(buffer));
    EXPECT_LT(secondsSince(start), 0.5);

    injectReport(dev, {0x05, 0x13, 0x01, 0xAA, 0xBB});
    EXPECT_EQ(64, readWithin(link, buffer, std::chrono::milliseconds(1000)));
    EXPECT_EQ(0x05, buffer[0]);
    EXPECT_EQ(0xBB, buffer[4]);
}

TEST_F(DeviceLink, CloseStatesAndHandles) {
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    KorDevice link;
    EXPECT_FALSE(link.isOpen());
    EXPECT_TRUE(link.close());
    ASSERT_FALSE(link.open("/dev/emu-a"));
    EXPECT_EQ(1, emu_open_handle_count());
    // Opening an open link releases the earlier handle first.
    ASSERT_FALSE(link.open("/dev/emu-a"));
    EXPECT_EQ(1, emu_open_handle_count());
    EXPECT_FALSE(link.close());
    EXPECT_FALSE(link.isOpen());
    EXPECT_TRUE(link.close());
    EXPECT_EQ(0, emu_open_handle_count());

    {
        KorDevice scoped;
        ASSERT_FALSE(scoped.open("/dev/emu-a"));
    }
    EXPECT_EQ(0, emu_open_handle_count());
}

TEST_F(DeviceLink, ClosingOneLinkKeepsTheOthersWorking) {
    const int a = addDevice("Vanta", "VT-1", "/dev/emu-a");
    const int b = addDevice("DMM", "M-1", "/dev/emu-m");
    KorDevice first, second;
    ASSERT_FALSE(first.open("/dev/emu-a"));
    ASSERT_FALSE(second.open("/dev/emu-m"));
    EXPECT_FALSE(first.close());
    EXPECT_TRUE(second.isOpen());
    EXPECT_EQ(1, emu_open_handle_count());

    uint8_t request[4] = {0x04, 0x13, 0x00, 0x01};  // read the product name
    ASSERT_FALSE(second.write(request, 4));
    uint8_t answer[BUF_LEN] = {};
    ASSERT_EQ(64, readWithin(second, answer, std::chrono::milliseconds(1000)));
    EXPECT_EQ(0x13, answer[1]);
    EXPECT_EQ(RC_OK, answer[2]);
    EXPECT_EQ(std::string("DMM"), std::string(reinterpret_cast<char *>(answer + 3), 3));
    EXPECT_EQ(1u, hostReports(b).size());
    EXPECT_EQ(0u, hostReports(a).size());

    // The last close releases everything, and a later open works again.
    EXPECT_FALSE(second.close());
    EXPECT_FALSE(first.open("/dev/emu-a"));
    EXPECT_TRUE(first.isOpen());
}

TEST_F(DeviceLink, HidapiStateIsReleasedOnlyWithTheLastLink) {
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    addDevice("DMM", "M-1", "/dev/emu-m");
    KorDevice first, second;
    ASSERT_FALSE(first.open("/dev/emu-a"));
    ASSERT_FALSE(second.open("/dev/emu-m"));
    const int before = hidExitCalls.load();
    EXPECT_FALSE(first.close());
    EXPECT_EQ(before, hidExitCalls.load());
    EXPECT_TRUE(first.open("/dev/missing") && !first.isOpen());
    EXPECT_EQ(before, hidExitCalls.load());
    EXPECT_FALSE(second.close());
    EXPECT_EQ(before + 1, hidExitCalls.load());
}

// A failed read or write means the device is gone: the link stops counting
// as open at once, close still releases the handle, and after the replug the
// same link opens again.
TEST_F(DeviceLink, UnpluggedDeviceFailsReadsAndWrites) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    uint8_t buffer[BUF_LEN] = {0x04, OP_ATT_VALUE_GET, 0x00, 0x01};
    for (bool readFirst : {true, false}) {
        KorDevice link;
        ASSERT_FALSE(link.open("/dev/emu-a"));
        emu_unplug(dev);
        if (readFirst) {
            EXPECT_EQ(-1, link.read(buffer));
        } else {
            EXPECT_TRUE(link.write(buffer, 4));
        }
        EXPECT_FALSE(link.isOpen());
        EXPECT_TRUE(link.write(buffer, 4));
        EXPECT_EQ(-1, link.read(buffer));
        EXPECT_FALSE(link.close());
        EXPECT_EQ(0, emu_open_handle_count());
        emu_replug(dev);
        EXPECT_FALSE(link.open("/dev/emu-a"));
        EXPECT_TRUE(link.isOpen());
        EXPECT_FALSE(link.write(buffer, 4));
    }
}

}  // namespace
