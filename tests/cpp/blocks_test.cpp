#include <memory>

#include "AdcHw.h"
#include "AdcInputs.h"
#include "Gpio.h"
#include "GpioHw.h"
#include "I2c.h"
#include "I2cHw.h"
#include "emu_helpers.h"

using namespace korvane;

namespace {

const uint16_t kDir = ATT_GPIO0_BASE + ATT_GPIO_INOUT_MODE;
const uint16_t kPullUp = ATT_GPIO0_BASE + ATT_GPIO_PULL_UP;
const uint16_t kLevels = ATT_GPIO0_BASE + ATT_GPIO_RW;
const uint16_t kRegAddr = ATT_IC20_BASE + ATT_I2C_REG_ADDR;
const uint16_t kData2 = ATT_IC20_BASE + ATT_I2C_RW_2BYTE;

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes readAnswer(const Bytes &value) {
    Bytes answer(3 + value.size());
    answer[0] = uint8_t(3 + value.size());
    answer[1] = 0x13;
    answer[2] = 0x01;
    std::copy(value.begin(), value.end(), answer.begin() + 3);
    return answer;
}

// The board's blocks on an open link, built the way the board builds them.
class Blocks : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
        ASSERT_FALSE(link.open("/dev/emu-a"));
        service.reset(new KorService(&link));
        gpio.reset(new GpioHw(service.get(), ATT_GPIO0_BASE));
        adc.reset(new AdcHw(service.get(), ATT_ADC_BASE));
        i2c.reset(new I2cHw(service.get(), ATT_IC20_BASE));
    }
    void TearDown() override {
        gpio.reset();
        adc.reset();
        i2c.reset();
        service.reset();
        link.close();
        EmuTest::TearDown();
    }

    int dev = -1;
    KorDevice link;
    std::unique_ptr<KorService> service;
    std::unique_ptr<GpioHw> gpio;
    std::unique_ptr<AdcHw> adc;
    std::unique_ptr<I2cHw> i2c;
};

struct PinModeCase {
    const char *name;
    uint8_t pin;
    int mode;
    uint32_t direction;
    uint32_t pullUp;
    bool failed;
    std::vector<Request> traffic;
};

class GpioPinMode : public Blocks, public ::testing::WithParamInterface<PinModeCase> {};

TEST_P(GpioPinMode, SendsTheExactSequence) {
    const PinModeCase &c = GetParam();
    setAttribute(dev, kDir, le32(c.direction));
    setAttribute(dev, kPullUp, le32(c.pullUp));
    emu_log_clear(dev);
    EXPECT_EQ(c.failed, gpio->pinMode(c.pin, static_cast<PinMode>(c.mode)));
    EXPECT_EQ(c.traffic, requests(dev));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, GpioPinMode,
    ::testing::Values(
        PinModeCase{"output",
                    5,
                    OUTPUT_PIN,
                    0xFFFFFFFF,
                    0,
                    false,
                    {readOf(kDir), writeOf(kDir, {0xDF, 0xFF, 0xFF, 0xFF})}},
        PinModeCase{"output_pin31",
                    31,
                    OUTPUT_PIN,
                    0xFFFFFFFF,
                    0,
                    false,
                    {readOf(kDir), writeOf(kDir, {0xFF, 0xFF, 0xFF, 0x7F})}},
        PinModeCase{"pullup",
                    5,
                    INPUT_PULLUP_PIN,
                    0,
                    0,
                    false,
                    {readOf(kDir), readOf(kPullUp), writeOf(kPullUp, le32(0x20)),
                     writeOf(kDir, le32(0x20))}},
        PinModeCase{"input",
                    5,
                    INPUT_PIN,
                    0x01,
                    0xFFFFFFFF,
                    false,
                    {readOf(kDir), readOf(kPullUp), writeOf(kPullUp, le32(0xFFFFFFDF)),
                     writeOf(kDir, le32(0x21))}},
        PinModeCase{
            "pulldown_refused", 5, INPUT_PULLDOWN_PIN, 0, 0, true, {readOf(kDir), readOf(kPullUp)}},
        PinModeCase{"unknown_mode", 5, 7, 0, 0, true, {readOf(kDir), readOf(kPullUp)}},
        PinModeCase{"pin32", 32, OUTPUT_PIN, 0, 0, true, {}},
        PinModeCase{"pin255", 255, INPUT_PIN, 0, 0, true, {}}),
    [](const ::testing::TestParamInfo<PinModeCase> &info) { return std::string(info.param.name); });

TEST_F(Blocks, PinModeStopsAtTheFirstFailure) {
    // Direction read refused: nothing more.
    emu_set_fail_attribute(dev, kDir, 1);
    EXPECT_TRUE(gpio->pinMode(5, INPUT_PULLUP_PIN));
    EXPECT_EQ((std::vector<Request>{readOf(kDir)}), requests(dev));
    emu_set_fail_attribute(dev, kDir, 0);

    // Pull-up write refused (its answer is a read answer): no direction write.
    setRawAnswer(dev, kPullUp, readAnswer(le32(0)));
    emu_log_clear(dev);
    EXPECT_TRUE(gpio->pinMode(5, INPUT_PULLUP_PIN));
    EXPECT_EQ((std::vector<Request>{readOf(kDir), readOf(kPullUp), writeOf(kPullUp, le32(0x20))}),
              requests(dev));
    emu_set_raw_answer(dev, kPullUp, nullptr, -1);

    // Direction write refused after the pull-up was written: the pull-up stays.
    setAttribute(dev, kPullUp, le32(0));
    setRawAnswer(dev, kDir, readAnswer(le32(0)));
    emu_log_clear(dev);
    EXPECT_TRUE(gpio->pinMode(6, INPUT_PULLUP_PIN));
    EXPECT_EQ(4u, requests(dev).size());
    uint8_t pulls[4] = {};
    ASSERT_EQ(4, emu_get_attribute(dev, kPullUp, pulls, 4));
    EXPECT_EQ(le32(0x40), Bytes(pulls, pulls + 4));
}

TEST_F(Blocks, WholeMaskWriteAndRead) {
    EXPECT_FALSE(gpio->write(0x12345678));
    std::vector<Bytes> reports = hostReports(dev);
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ((Bytes{0x08, 0x12, 0x12, 0x03, 0x78, 0x56, 0x34, 0x12}),
              Bytes(reports[0].begin(), reports[0].begin() + 8));

    setRawAnswer(dev, kLevels, readAnswer({0x00, 0x00, 0x00, 0x80}));
    EXPECT_EQ(0x80000000u, gpio->read());
    emu_set_fail_attribute(dev, kLevels, 1);
    emu_set_raw_answer(dev, kLevels, nullptr, -1);
    EXPECT_EQ(0xFFFFFFFFu, gpio->read());
}

TEST_F(Blocks, DigitalRead) {
    setRawAnswer(dev, kLevels, readAnswer(le32(0x20)));
    EXPECT_TRUE(gpio->digitalRead(5));
    EXPECT_FALSE(gpio->digitalRead(4));
    EXPECT_EQ((std::vector<Request>{readOf(kLevels), readOf(kLevels)}), requests(dev));
    std::vector<Bytes> reports = hostReports(dev);
    EXPECT_EQ((Bytes{0x04, 0x13, 0x12, 0x03}), Bytes(reports[0].begin(), reports[0].begin() + 4));

    setRawAnswer(dev, kLevels, readAnswer(le32(0)));
    EXPECT_FALSE(gpio->digitalRead(5));
    emu_set_raw_answer(dev, kLevels, nullptr, -1);
    emu_set_fail_attribute(dev, kLevels, 1);
    EXPECT_TRUE(gpio->digitalRead(5));  // a failed read answers true

    emu_log_clear(dev);
    EXPECT_TRUE(gpio->digitalRead(32));
    EXPECT_EQ(0, emu_log_count(dev));
}

TEST_F(Blocks, DigitalWriteWorksFromTheCache) {
    // Before any successful read the cached upper bytes are zero.
    emu_set_fail_attribute(dev, kLevels, 1);
    EXPECT_TRUE(gpio->digitalWrite(9, true));
    EXPECT_EQ((std::vector<Request>{readOf(kLevels), writeOf(kLevels, le32(0x200))}),
              requests(dev));

    emu_set_fail_attribute(dev, kLevels, 0);
    setAttribute(dev, kDir, le32(0));  // all outputs: levels read back the latch
    setAttribute(dev, kLevels, le32(0xF000));
    emu_log_clear(dev);
    EXPECT_FALSE(gpio->digitalWrite(3, true));
    EXPECT_EQ((std::vector<Request>{readOf(kLevels), writeOf(kLevels, le32(0xF008))}),
              requests(dev));

    // A failed read leaves the cache as it was; a failed write keeps its bit.
    emu_set_fail_attribute(dev, kLevels, 1);
    emu_log_clear(dev);
    EXPECT_EQ(0xFFFFFFFFu, gpio->read());
    EXPECT_TRUE(gpio->digitalWrite(0, true));
    EXPECT_TRUE(gpio->digitalWrite(1, true));
    EXPECT_EQ(
        (std::vector<Request>{readOf(kLevels), readOf(kLevels), writeOf(kLevels, le32(0xF009)),
                              readOf(kLevels), writeOf(kLevels, le32(0xF00B))}),
        requests(dev));

    emu_log_clear(dev);
    EXPECT_TRUE(gpio->digitalWrite(32, true));
    EXPECT_EQ(0, emu_log_count(dev));
}

TEST_F(Blocks, AnalogRead) {
    emu_set_adc(dev, 3, 0x1234);
    EXPECT_EQ(4660u, adc->analogRead(3));
    emu_set_adc(dev, 7, 0x80000000);
    EXPECT_EQ(2147483648u, adc->analogRead(7));
    EXPECT_EQ((std::vector<Request>{readOf(0x1303), readOf(0x1307)}), requests(dev));

    emu_log_clear(dev);
    EXPECT_EQ(0xFFFFFFFFu, adc->analogRead(8));
    EXPECT_EQ(0, emu_log_count(dev));

    emu_set_fail_attribute(dev, 0x1303, 1);
    EXPECT_EQ(0xFFFFFFFFu, adc->analogRead(3));
}

// A value shorter than the operation's is a failure, never a value made of
// the answer's bytes and an earlier answer's (or zeros).
TEST_F(Blocks, ShortAnswersAreFailures) {
    emu_set_adc(dev, 2, 0xAABBCCDD);
    ASSERT_EQ(0xAABBCCDDu, adc->analogRead(2));
    setRawAnswer(dev, 0x1302, readAnswer({0x34, 0x12}));
    EXPECT_EQ(0xFFFFFFFFu, adc->analogRead(2));

    emu_set_i2c_register(dev, 0x40, 0x05, 0xBEEF);
    ASSERT_EQ(0xBEEF, i2c->read2byte(0x05));
    setRawAnswer(dev, kData2, readAnswer({0x34}));
    EXPECT_EQ(0, i2c->read2byte(0x05));
}

TEST_F(Blocks, I2cRegisterAccess) {
    EXPECT_FALSE(i2c->setI2cDeviceAddr(0x40));
    EXPECT_FALSE(i2c->write2byte(0x05, 0xABCD));
    EXPECT_EQ(0xABCD, emu_get_i2c_register(dev, 0x40, 0x05));
    emu_set_i2c_register(dev, 0x40, 0x06, 0x1234);
    EXPECT_EQ(0x1234, i2c->read2byte(0x06));
    EXPECT_EQ((std::vector<Request>{writeOf(ATT_IC20_BASE, {0x40}), writeOf(kRegAddr, {0x05}),
                                    writeOf(kData2, {0xCD, 0xAB}), writeOf(kRegAddr, {0x06}),
                                    readOf(kData2)}),
              requests(dev));
}

TEST_F(Blocks, I2cRegisterAddressFailureStopsTheAccess) {
    emu_set_fail_attribute(dev, kRegAddr, 1);
    EXPECT_EQ(0, i2c->read2byte(0x05));
    EXPECT_TRUE(i2c->write2byte(0x05, 0x1111));
    EXPECT_EQ((std::vector<Request>{writeOf(kRegAddr, {0x05}), writeOf(kRegAddr, {0x05})}),
              requests(dev));

    emu_set_fail_attribute(dev, kRegAddr, 0);
    emu_set_fail_attribute(dev, kData2, 1);
    EXPECT_EQ(0, i2c->read2byte(0x05));
    EXPECT_TRUE(i2c->write2byte(0x05, 0x1111));
}

TEST_F(Blocks, CopiesOwnTheirAttributesAndShareTheService) {
    setAttribute(dev, kDir, le32(0));
    setAttribute(dev, kLevels, le32(0x0F));
    ASSERT_EQ(0x0Fu, gpio->read());
    {
        GpioHw copy(*gpio);
        emu_set_fail_attribute(dev, kLevels, 1);
        copy.digitalWrite(4, true);  // the copied cache, sent through the same service
        emu_set_fail_attribute(dev, kLevels, 0);
    }
    GpioHw assigned(nullptr, 0x2000);
    assigned = *gpio;
    assigned = assigned;
    emu_log_clear(dev);
    EXPECT_FALSE(assigned.write(0x55));
    EXPECT_EQ((std::vector<Request>{writeOf(kLevels, le32(0x55))}), requests(dev));
    // The source's cache is untouched by what the copies did.
    emu_set_fail_attribute(dev, kLevels, 1);
    emu_log_clear(dev);
    gpio->digitalWrite(5, true);
    EXPECT_EQ(writeOf(kLevels, le32(0x2F)), requests(dev).back());

    AdcHw adcCopy(*adc);
    AdcHw adcAssigned(nullptr, 0);
    adcAssigned = adcCopy;
    emu_set_adc(dev, 1, 77);
    EXPECT_EQ(77u, adcAssigned.analogRead(1));

    I2cHw i2cAssigned(nullptr, 0);
    i2cAssigned = *i2c;
    I2cHw i2cCopy(i2cAssigned);
    emu_set_i2c_register(dev, 0x40, 0x01, 0x4242);
    EXPECT_EQ(0x4242, i2cCopy.read2byte(0x01));
}

TEST(BlocksWithoutService, FailWithoutCrashing) {
    GpioHw gpio(nullptr, ATT_GPIO0_BASE);
    AdcHw adc(nullptr, ATT_ADC_BASE);
    I2cHw i2c(nullptr, ATT_IC20_BASE);
    EXPECT_TRUE(gpio.pinMode(1, OUTPUT_PIN));
    EXPECT_TRUE(gpio.write(1));
    EXPECT_EQ(0xFFFFFFFFu, gpio.read());
    EXPECT_TRUE(gpio.digitalWrite(1, true));
    EXPECT_TRUE(gpio.digitalRead(1));
    EXPECT_EQ(0xFFFFFFFFu, adc.analogRead(0));
    EXPECT_TRUE(i2c.setI2cDeviceAddr(0x40));
    EXPECT_TRUE(i2c.write2byte(1, 2));
    EXPECT_EQ(0, i2c.read2byte(1));
}

}  // namespace

namespace {

// A number out of range is refused before anything is sent, never taken
// modulo 256 as another pin, channel, register or address.
TEST_F(Blocks, OutOfRangeNumbersAreRefusedNotTruncated) {
    Gpio pins(service.get(), ATT_GPIO0_BASE);
    AdcInputs inputs(service.get(), ATT_ADC_BASE);
    I2c bridge(service.get(), ATT_IC20_BASE);
    emu_log_clear(dev);
    for (AttributeStatus status :
         {pins.mode(261, OUTPUT_PIN).status, pins.read(-1).result.status,
          pins.write(32, true).status, pins.mode(256).result.status, inputs.read(264).result.status,
          bridge.read(256 + 5, 2).result.status, bridge.write(-1, 0, 2).status,
          bridge.setTarget(0x80 + 0x40).status, bridge.scan(-8, 0x10).result.status}) {
        EXPECT_EQ(AttributeStatus::BadArgument, status);
    }
    EXPECT_EQ(0, emu_log_count(dev));
}

}  // namespace
