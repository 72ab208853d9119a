#include <string>

#include "KorCore.h"
#include "emu_helpers.h"

using namespace korvane;

namespace {

const char kOpenFailed[] = "[ERR] Unable to open device\n";

class Core : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        dev = addDevice("Vanta", "VT-0001", "/dev/emu-a");
    }

    static std::vector<std::string> identity(KorCore &core) {
        return {core.getVendorName(), core.getProductName(), core.getProductRevision(),
                core.getProductSerial(), core.getFirmVersion()};
    }

    int dev = -1;
};

TEST_F(Core, NewConnectionIsClosedAndEmpty) {
    KorCore core;
    EXPECT_FALSE(core.isConnected());
    EXPECT_EQ(std::vector<std::string>(5, ""), identity(core));
    EXPECT_TRUE(core.close());
}

TEST_F(Core, OpenReadsTheFiveIdentityAttributesInOrder) {
    KorCore core;
    ASSERT_FALSE(core.openPath("/dev/emu-a"));
    EXPECT_TRUE(core.isConnected());
    EXPECT_EQ((std::vector<std::string>{"Korvane", "Vanta", "A1", "VT-0001", "1.0.0"}),
              identity(core));
    EXPECT_EQ((std::vector<Request>{readOf(0), readOf(1), readOf(2), readOf(3), readOf(4)}),
              requests(dev));
}

TEST_F(Core, OpenFailures) {
    KorCore core;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(core.openPath(nullptr));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());

    testing::internal::CaptureStderr();
    EXPECT_TRUE(core.openPath("/dev/nothing-here"));
    EXPECT_EQ(kOpenFailed, testing::internal::GetCapturedStderr());
    EXPECT_FALSE(core.isConnected());
    EXPECT_EQ(0, emu_log_count(dev));
}

TEST_F(Core, SecondOpenChangesNothing) {
    KorCore core;
    ASSERT_FALSE(core.openPath("/dev/emu-a"));
    emu_log_clear(dev);
    setAttribute(dev, ATT_PRODUCT_SERIAL, {'N', 'E', 'W', 0});
    EXPECT_TRUE(core.openPath("/dev/emu-a"));
    EXPECT_EQ("VT-0001", core.getProductSerial());
    EXPECT_EQ(0, emu_log_count(dev));
    EXPECT_EQ(1, emu_open_handle_count());
}

TEST_F(Core, RefusedIdentityReadKeepsThePreviousValue) {
    emu_set_fail_attribute(dev, ATT_PRODUCT_NAME, 1);
    {
        KorCore fresh;
        EXPECT_FALSE(fresh.openPath("/dev/emu-a"));
        EXPECT_EQ("", fresh.getProductName());
        EXPECT_EQ("Korvane", fresh.getVendorName());
        EXPECT_EQ("1.0.0", fresh.getFirmVersion());
    }
    emu_set_fail_attribute(dev, ATT_PRODUCT_NAME, 0);
    KorCore core;
    ASSERT_FALSE(core.openPath("/dev/emu-a"));
    ASSERT_FALSE(core.close());
    emu_set_fail_attribute(dev, ATT_PRODUCT_NAME, 1);
    setAttribute(dev, ATT_PRODUCT_REVISION, {'B', '2', 0});
    ASSERT_FALSE(core.openPath("/dev/emu-a"));
    EXPECT_EQ("Vanta", core.getProductName());
    EXPECT_EQ("B2", core.getProductRevision());
}

TEST_F(Core, IdentityTextOf32BytesWithoutZeroComesBackWhole) {
    const std::string serial = "0123456789ABCDEF0123456789abcdef";
    setAttribute(dev, ATT_PRODUCT_SERIAL, Bytes(serial.begin(), serial.end()));
    KorCore core;
    ASSERT_FALSE(core.openPath("/dev/emu-a"));
    EXPECT_EQ(serial, core.getProductSerial());
}

TEST_F(Core, CloseKeepsIdentityAndAllowsReopen) {
    KorCore core;
    ASSERT_FALSE(core.openPath("/dev/emu-a"));
    EXPECT_FALSE(core.close());
    EXPECT_FALSE(core.isConnected());
    EXPECT_EQ("VT-0001", core.getProductSerial());
    EXPECT_TRUE(core.close());
    EXPECT_EQ(0, emu_open_handle_count());
    EXPECT_FALSE(core.openPath("/dev/emu-a"));
    EXPECT_TRUE(core.isConnected());
}

TEST_F(Core, DestructionClosesTheLink) {
    {
        KorCore core;
        ASSERT_FALSE(core.openPath("/dev/emu-a"));
        EXPECT_EQ(1, emu_open_handle_count());
    }
    EXPECT_EQ(0, emu_open_handle_count());
}

}  // namespace
