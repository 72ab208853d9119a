#include <algorithm>
#include <climits>
#include <memory>
#include <string>

#include "Adc.h"
#include "Brondel.h"
#include "Dmm.h"
#include "Hub.h"
#include "Meter.h"
#include "Pin.h"
#include "Vanta.h"
#include "emu_helpers.h"

using namespace korvane;

namespace {

const uint16_t kLevels = ATT_GPIO0_BASE + ATT_GPIO_RW;
const uint16_t kDir = ATT_GPIO0_BASE + ATT_GPIO_INOUT_MODE;

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

class Models : public EmuTest {};

TEST_F(Models, BoardsOfOneModelChosenBySerial) {
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    addDevice("Vanta", "VT-2", "/dev/emu-b");
    Vanta first, chosen, missing;
    EXPECT_FALSE(first.open());
    EXPECT_EQ("VT-1", first.getProductSerial());
    EXPECT_FALSE(chosen.open("VT-2"));
    EXPECT_EQ("VT-2", chosen.getProductSerial());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(missing.open("VT-3"));
    EXPECT_TRUE(first.open());  // already open
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_FALSE(missing.isConnected());
    EXPECT_EQ("VT-1", first.getProductSerial());
}

TEST_F(Models, AModelOpensOnlyItsOwnProduct) {
    addDevice("DMM", "X-1", "/dev/emu-m");
    addDevice("Brondel HUB", "X-2", "/dev/emu-h");
    addDevice("Vanta", "X-3", "/dev/emu-v");
    Vanta board;
    EXPECT_TRUE(board.open("X-1"));
    EXPECT_TRUE(board.open("X-2"));
    EXPECT_FALSE(board.open());
    EXPECT_EQ("X-3", board.getProductSerial());
    Brondel hub;
    EXPECT_TRUE(hub.open("X-1"));
    EXPECT_FALSE(hub.open());
    EXPECT_EQ("Brondel HUB", hub.getProductName());
    Dmm meter;
    EXPECT_TRUE(meter.open("X-3"));
    // A model's connection checks what it opened; the path's open does not.
    ASSERT_FALSE(board.close());
    Meter core;
    EXPECT_EQ(Connection::OpenStatus::OtherProduct, core.open("/dev/emu-v"));
    EXPECT_FALSE(core.isOpen());
    EXPECT_FALSE(meter.open("X-1"));
    EXPECT_EQ("DMM", meter.getProductName());
}

TEST_F(Models, RefusedOpenPrintsTheMessage) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    emu_set_refuse_open(dev, 1);
    Vanta board;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(board.open());
    EXPECT_EQ("[ERR] Unable to open device\n", testing::internal::GetCapturedStderr());
}

TEST_F(Models, DestructionClosesTheLink) {
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    addDevice("Brondel HUB", "H-1", "/dev/emu-h");
    addDevice("DMM", "M-1", "/dev/emu-m");
    {
        Vanta board;
        Brondel hub;
        Dmm meter;
        ASSERT_FALSE(board.open());
        ASSERT_FALSE(hub.open());
        ASSERT_FALSE(meter.open());
        EXPECT_EQ(3, emu_open_handle_count());
    }
    EXPECT_EQ(0, emu_open_handle_count());
}

TEST_F(Models, ClosedBoardFailsEveryOperation) {
    Vanta board;
    EXPECT_TRUE(board.gpiohw.pinMode(1, OUTPUT_PIN));
    EXPECT_EQ(0xFFFFFFFFu, board.adchw.analogRead(0));
    EXPECT_EQ(0, board.i2chw.read2byte(0));
    Dmm meter;
    EXPECT_FLOAT_EQ(-999.9f, meter.getVoltage());
    EXPECT_EQ("", meter.getCalibrationData());
    Brondel hub;
    EXPECT_EQ(1u, hub.getUsbPortStatus());
    EXPECT_TRUE(hub.enableUsbPort(1));
}

TEST_F(Models, VantaBlocksUseTheBoardsAttributes) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    Vanta board;
    ASSERT_FALSE(board.open());
    emu_log_clear(dev);
    emu_set_adc(dev, 3, 4660);
    EXPECT_EQ(4660u, board.adchw.analogRead(3));
    EXPECT_FALSE(board.i2chw.setI2cDeviceAddr(0x40));
    EXPECT_FALSE(board.gpiohw.write(1));
    EXPECT_EQ(
        (std::vector<Request>{readOf(0x1303), writeOf(0x1400, {0x40}), writeOf(kLevels, le32(1))}),
        requests(dev));
}

TEST_F(Models, BlockAssignmentKeepsTheBoardWorking) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    Vanta board;
    ASSERT_FALSE(board.open());
    GpioHw replacement(nullptr, 0x5000);
    board.gpiohw = replacement;  // ids and the (null) service of the source
    EXPECT_TRUE(board.gpiohw.write(1));
    board.gpiohw = GpioHw(nullptr, ATT_GPIO0_BASE);
    Vanta other;
    board.gpiohw = other.gpiohw;  // talks through the other board's (closed) service
    EXPECT_TRUE(board.gpiohw.write(1));
    emu_log_clear(dev);
    Vanta fresh;
    ASSERT_FALSE(board.close());
    ASSERT_FALSE(fresh.open());
    fresh.adchw = fresh.adchw;
    emu_set_adc(dev, 0, 5);
    EXPECT_EQ(5u, fresh.adchw.analogRead(0));
}

// A chain of block copies talks through the hub's service while it lives,
// and fails as on a closed device once the hub is destroyed; a copy of the
// core's block says so: not open.
TEST_F(Models, BlockCopiesFailOnceTheirServiceIsGone) {
    const int dev = addDevice("Brondel HUB", "BH-1", "/dev/emu-h");
    emu_set_gpio_external(dev, 0x10, 0x10);
    auto hub = std::make_unique<Brondel>();
    ASSERT_FALSE(hub->open());
    Vanta board, other, spare;
    board.gpiohw = hub->gpiohw;
    other.gpiohw = board.gpiohw;
    board.gpiohw = spare.gpiohw;
    EXPECT_EQ(0x10u, other.gpiohw.read() & 0x10);
    hub.reset();
    EXPECT_EQ(0xFFFFFFFFu, other.gpiohw.read());

    auto core = std::make_unique<Hub>();
    ASSERT_EQ(Connection::OpenStatus::Opened, core->open("/dev/emu-h"));
    Gpio copy = core->gpio;
    EXPECT_EQ(0x10u, copy.levels().valueOr(0) & 0x10);
    core.reset();
    EXPECT_EQ(AttributeStatus::NotOpen, copy.levels().result.status);
}

TEST_F(Models, HubPortSwitching) {
    const int dev = addDevice("Brondel HUB", "H-1", "/dev/emu-h");
    setAttribute(dev, ATT_USB_PORT_CTRL, le32(0));
    Brondel hub;
    ASSERT_FALSE(hub.open());
    EXPECT_EQ(readOf(ATT_USB_PORT_CTRL), requests(dev).back());  // the mask is read at open
    emu_log_clear(dev);

    EXPECT_FALSE(hub.enableUsbPort(1));
    std::vector<Bytes> reports = hostReports(dev);
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ((Bytes{0x08, 0x12, 0x80, 0x00, 0x01, 0x00, 0x00, 0x00}),
              Bytes(reports[0].begin(), reports[0].begin() + 8));
    EXPECT_FALSE(hub.enableUsbPort(3));
    EXPECT_FALSE(hub.enableUsbPort(32));
    EXPECT_FALSE(hub.disableUsbPort(32));
    EXPECT_FALSE(hub.enableAllUsbPort());
    EXPECT_FALSE(hub.disableUsbPort(2));
    EXPECT_FALSE(hub.disableAllUsbPort());
    const uint16_t port = ATT_USB_PORT_CTRL;
    EXPECT_EQ((std::vector<Request>{writeOf(port, le32(0x01)), writeOf(port, le32(0x05)),
                                    writeOf(port, le32(0x80000005)), writeOf(port, le32(0x05)),
                                    writeOf(port, le32(0xFFFFFFFF)),
                                    writeOf(port, le32(0xFFFFFFFD)), writeOf(port, le32(0))}),
              requests(dev));

    emu_log_clear(dev);
    for (uint32_t outside : {0u, 33u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(hub.enableUsbPort(outside)) << outside;
        EXPECT_TRUE(hub.disableUsbPort(outside)) << outside;
    }
    EXPECT_EQ(0, emu_log_count(dev));
}

TEST_F(Models, HubCacheAfterFailedReadsAndWrites) {
    const int dev = addDevice("Brondel HUB", "H-1", "/dev/emu-h");
    setAttribute(dev, ATT_USB_PORT_CTRL, le32(0x10));
    Brondel hub;
    ASSERT_FALSE(hub.open());
    setAttribute(dev, ATT_USB_PORT_CTRL, le32(0x30));
    EXPECT_EQ(0u, hub.getUsbPortStatus());
    emu_set_fail_attribute(dev, ATT_USB_PORT_CTRL, 1);
    EXPECT_EQ(1u, hub.getUsbPortStatus());  // the cache keeps 0x30
    EXPECT_TRUE(hub.enableUsbPort(1));      // the cache takes the bit anyway
    emu_set_fail_attribute(dev, ATT_USB_PORT_CTRL, 0);
    emu_log_clear(dev);
    EXPECT_FALSE(hub.enableUsbPort(2));
    EXPECT_EQ((std::vector<Request>{writeOf(ATT_USB_PORT_CTRL, le32(0x33))}), requests(dev));
}

TEST_F(Models, HubOpenSucceedsEvenIfTheMaskReadFails) {
    const int dev = addDevice("Brondel HUB", "H-1", "/dev/emu-h");
    emu_set_fail_attribute(dev, ATT_USB_PORT_CTRL, 1);
    Brondel hub;
    EXPECT_FALSE(hub.open("H-1"));
    emu_set_fail_attribute(dev, ATT_USB_PORT_CTRL, 0);
    emu_log_clear(dev);
    EXPECT_FALSE(hub.enableUsbPort(4));  // upper cache bytes start zero
    EXPECT_EQ((std::vector<Request>{writeOf(ATT_USB_PORT_CTRL, le32(0x08))}), requests(dev));
}

TEST_F(Models, MeterReadingsAndCalibration) {
    const int dev = addDevice("DMM", "M-1", "/dev/emu-m");
    Dmm meter;
    ASSERT_FALSE(meter.open());
    emu_log_clear(dev);
    setAttribute(dev, ATT_VOLTAGE, {0x00, 0x00, 0xA0, 0x40});
    EXPECT_FLOAT_EQ(5.0f, meter.getVoltage());
    emu_set_reading(dev, ATT_CURRENT, 0.5f, 0.0f, 0);
    EXPECT_FLOAT_EQ(0.5f, meter.getCurrent());

    EXPECT_FALSE(meter.calibration());
    EXPECT_EQ(1, emu_calibration_count(dev));
    std::vector<Bytes> reports = hostReports(dev);
    EXPECT_EQ((Bytes{0x08, 0x12, 0x81, 0x00, 0x00, 0x00, 0x00, 0x00}),
              Bytes(reports.back().begin(), reports.back().begin() + 8));

    emu_set_calibration(dev, -2, 3, 0, -128);
    EXPECT_EQ(
        "LOW_CURRENT_OFFSET: -2\nHIGH_CURRENT_OFFSET: 3\nLOW_VOLTAGE_OFFSET: "
        "0\nHIGH_VOLTAGE_OFFSET: -128\n",
        meter.getCalibrationData());
    EXPECT_EQ((std::vector<Request>{readOf(ATT_VOLTAGE), readOf(ATT_CURRENT),
                                    writeOf(ATT_CALIBRATION, le32(0)), readOf(ATT_CALIBRATION)}),
              requests(dev));
}

TEST_F(Models, MeterFailureValues) {
    const int dev = addDevice("DMM", "M-1", "/dev/emu-m");
    Dmm meter;
    ASSERT_FALSE(meter.open());
    for (uint16_t attid : {ATT_VOLTAGE, ATT_CURRENT, ATT_CALIBRATION}) {
        emu_set_fail_attribute(dev, attid, 1);
    }
    EXPECT_EQ(-999.9f, meter.getVoltage());
    EXPECT_EQ(-999.9000244140625, static_cast<double>(meter.getCurrent()));
    EXPECT_EQ("", meter.getCalibrationData());
    EXPECT_TRUE(meter.calibration());

    // A short reading answer is a failure, not the previous reading's bytes.
    for (uint16_t attid : {ATT_VOLTAGE, ATT_CURRENT, ATT_CALIBRATION}) {
        emu_set_fail_attribute(dev, attid, 0);
    }
    setAttribute(dev, ATT_VOLTAGE, {0x00, 0x00, 0xA0, 0x40});
    ASSERT_FLOAT_EQ(5.0f, meter.getVoltage());
    setRawAnswer(dev, ATT_VOLTAGE, {0x05, 0x13, 0x01, 0x00, 0x00});
    EXPECT_EQ(-999.9f, meter.getVoltage());
}

TEST_F(Models, MeterRegisterDumpAndDieId) {
    const int dev = addDevice("DMM", "M-1", "/dev/emu-m");
    Dmm meter;
    ASSERT_FALSE(meter.open());
    for (uint8_t reg = 0; reg <= 0x11; ++reg) {
        emu_set_i2c_register(dev, 0x40, reg, reg == 0x0a ? 0x1234 : 0);
    }
    std::string dump = meter.showReg();
    EXPECT_EQ(18, std::count(dump.begin(), dump.end(), '\n'));
    EXPECT_NE(std::string::npos, dump.find("\na: 0x1234\n"));
    EXPECT_EQ(0u, dump.find("0: 0x0\n1: 0x0\n"));
    EXPECT_NE(std::string::npos, dump.find("\nf: 0x0\n10: 0x0\n11: 0x0\n"));

    emu_log_clear(dev);
    EXPECT_EQ(0x2260, meter.getDieID());
    EXPECT_EQ((std::vector<Request>{writeOf(ATT_IC20_BASE + ATT_I2C_REG_ADDR, {0xFF}),
                                    readOf(ATT_IC20_BASE + ATT_I2C_RW_2BYTE)}),
              requests(dev));

    emu_set_fail_attribute(dev, ATT_IC20_BASE + ATT_I2C_RW_2BYTE, 1);
    std::string expected;
    const char *labels[] = {"0", "1", "2", "3", "4", "5", "6", "7",  "8",
                            "9", "a", "b", "c", "d", "e", "f", "10", "11"};
    for (const char *label : labels) {
        expected += std::string(label) + ": 0x0\n";
    }
    EXPECT_EQ(expected, meter.showReg());
    EXPECT_EQ(0, meter.getDieID());
}

class Handles : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
        setAttribute(dev, kDir, le32(0xFFFFFFFF));
        ASSERT_FALSE(board.open());
        emu_log_clear(dev);
    }
    int dev = -1;
    Vanta board;
};

TEST_F(Handles, PinWithModeConfiguresAtConstruction) {
    Pin configured(&board, 3, OUTPUT_PIN);
    EXPECT_EQ((std::vector<Request>{readOf(kDir), writeOf(kDir, le32(0xFFFFFFF7))}), requests(dev));
    emu_log_clear(dev);
    Pin plain(&board, 3);
    EXPECT_EQ(0, emu_log_count(dev));
    EXPECT_FALSE(plain.mode(INPUT_PULLUP_PIN));
    EXPECT_EQ(4u, requests(dev).size());
}

TEST_F(Handles, PinForwardsToTheBoardsGpio) {
    setAttribute(dev, kDir, le32(0));
    setAttribute(dev, kLevels, le32(0));
    emu_log_clear(dev);
    Pin pin(&board, 5);
    EXPECT_FALSE(pin.on());
    EXPECT_TRUE(pin.value());
    EXPECT_FALSE(pin.off());
    EXPECT_FALSE(pin.value());
    EXPECT_FALSE(pin.value(true));
    EXPECT_EQ((std::vector<Request>{readOf(kLevels), writeOf(kLevels, le32(0x20)), readOf(kLevels),
                                    readOf(kLevels), writeOf(kLevels, le32(0)), readOf(kLevels),
                                    readOf(kLevels), writeOf(kLevels, le32(0x20))}),
              requests(dev));
}

TEST_F(Handles, OutOfRangeHandlesFailWithoutTraffic) {
    Pin high(&board, 32);
    EXPECT_TRUE(high.on());
    EXPECT_TRUE(high.value());
    EXPECT_TRUE(high.mode(OUTPUT_PIN));
    Adc channel(&board, 8);
    EXPECT_EQ(-1, channel.value());
    EXPECT_EQ(0, emu_log_count(dev));
}

TEST_F(Handles, AdcValueIsSigned) {
    emu_set_adc(dev, 3, 0x1234);
    Adc channel(&board, 3);
    EXPECT_EQ(4660, channel.value());
    emu_set_adc(dev, 3, 0x80000000);
    EXPECT_EQ(INT_MIN, channel.value());
    emu_set_fail_attribute(dev, 0x1303, 1);
    EXPECT_EQ(-1, channel.value());
}

TEST(HandlesWithoutBoard, Fail) {
    Pin pin(nullptr, 1, OUTPUT_PIN);
    EXPECT_TRUE(pin.on());
    EXPECT_TRUE(pin.off());
    EXPECT_TRUE(pin.value());
    EXPECT_TRUE(pin.mode(INPUT_PIN));
    Adc adc(nullptr, 1);
    EXPECT_EQ(-1, adc.value());
}

}  // namespace
