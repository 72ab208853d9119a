// The firmware models' attributes, spoken through raw hid_* calls.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "EmuTestSupport.h"

using namespace emutest;

namespace {

Bytes text(const char *s) { return Bytes(s, s + std::strlen(s) + 1); }

class Firmware : public EmuTest {
protected:
    Handle open(const char *model, const char *serial = "S-1") {
        dev_ = emu_add_device(model, serial, nullptr);
        return openDevice(dev_);
    }
    int dev_ = -1;
};

struct IdentityCase {
    const char *model;
    uint16_t attid;
    const char *expected;
};

class Identity : public Firmware, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(Identity, AnswersTheTextWithItsTerminatingZero) {
    Handle h = open(GetParam().model, "SN-42");
    ASSERT_TRUE(h);
    EXPECT_EQ(readValue(h.get(), GetParam().attid), okRead(text(GetParam().expected)));
    EXPECT_EQ(transact(h.get(), writeRequest(GetParam().attid, {'X', 0})),
              kWriteFail);  // read-only
    EXPECT_EQ(readValue(h.get(), GetParam().attid), okRead(text(GetParam().expected)));
}

INSTANTIATE_TEST_SUITE_P(
    EveryModel, Identity,
    ::testing::Values(IdentityCase{"Vanta", 0, "Korvane"}, IdentityCase{"Vanta", 1, "Vanta"},
                      IdentityCase{"Vanta", 2, "A1"}, IdentityCase{"Vanta", 3, "SN-42"},
                      IdentityCase{"Vanta", 4, "1.0.0"},
                      IdentityCase{"Brondel HUB", 1, "Brondel HUB"},
                      IdentityCase{"Brondel HUB", 3, "SN-42"}, IdentityCase{"DMM", 1, "DMM"},
                      IdentityCase{"DMM", 4, "1.0.0"}));

struct ServedCase {
    const char *model;
    uint16_t attid;
    bool served;
};

class Served : public Firmware, public ::testing::WithParamInterface<ServedCase> {};

// Each model answers its own blocks and RC_FAIL for everything else.
TEST_P(Served, ReadSucceedsExactlyForTheModelsAttributes) {
    Handle h = open(GetParam().model);
    ASSERT_TRUE(h);
    const Bytes answer = readValue(h.get(), GetParam().attid);
    ASSERT_GE(answer.size(), 3u);
    EXPECT_EQ(answer[2], GetParam().served ? 1 : 0);
    if (!GetParam().served) {
        EXPECT_EQ(answer, kReadFail);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryModel, Served,
    ::testing::Values(ServedCase{"Vanta", 0x1200, true}, ServedCase{"Vanta", 0x1307, true},
                      ServedCase{"Vanta", 0x1308, false}, ServedCase{"Vanta", 0x1405, true},
                      ServedCase{"Vanta", 0x1406, false}, ServedCase{"Vanta", 0x8000, false},
                      ServedCase{"Vanta", 0x8101, false}, ServedCase{"Vanta", 5, false},
                      ServedCase{"Brondel HUB", 0x8000, true},
                      ServedCase{"Brondel HUB", 0x1203, true},
                      ServedCase{"Brondel HUB", 0x1300, false},
                      ServedCase{"Brondel HUB", 0x1403, false}, ServedCase{"DMM", 0x8100, true},
                      ServedCase{"DMM", 0x8102, true}, ServedCase{"DMM", 0x8103, false},
                      ServedCase{"DMM", 0x1403, true}, ServedCase{"DMM", 0x1200, false},
                      ServedCase{"DMM", 0xFFFF, false}));

struct GpioCase {
    const char *name;
    uint32_t direction, pullUp, pullDown, latch, extMask, extLevels, expected;
};

class GpioLevels : public Firmware, public ::testing::WithParamInterface<GpioCase> {};

TEST_P(GpioLevels, LevelFollowsDirectionPullsAndOutsideLevels) {
    const GpioCase &c = GetParam();
    Handle h = open("Vanta");
    ASSERT_TRUE(h);
    ASSERT_EQ(transact(h.get(), writeRequest(0x1200, le32(c.direction))), kWriteOk);
    ASSERT_EQ(transact(h.get(), writeRequest(0x1201, le32(c.pullUp))), kWriteOk);
    ASSERT_EQ(transact(h.get(), writeRequest(0x1202, le32(c.pullDown))), kWriteOk);
    ASSERT_EQ(transact(h.get(), writeRequest(0x1203, le32(c.latch))), kWriteOk);
    emu_set_gpio_external(dev_, c.extMask, c.extLevels);
    EXPECT_EQ(readValue(h.get(), 0x1203), okRead(le32(c.expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Pins, GpioLevels,
    ::testing::Values(GpioCase{"OutputsReadDrivenLevel", 0, 0, 0, 0x12345678, 0xFFFFFFFF, 0,
                               0x12345678},
                      GpioCase{"FloatingInputsReadLow", 0xFFFFFFFF, 0, 0, 0xFFFFFFFF, 0, 0, 0},
                      GpioCase{"PullUpReadsHigh", 0xFFFFFFFF, 0x0000000F, 0, 0, 0, 0, 0x0000000F},
                      GpioCase{"PullDownReadsLow", 0xFFFFFFFF, 0, 0xFF, 0xFF, 0, 0, 0},
                      GpioCase{"OutsideLevelBeatsPulls", 0xFFFFFFFF, 0x3, 0xC, 0, 0xF, 0x6, 0x6},
                      GpioCase{"MixedPins", 0x0000FF00, 0x00000F00, 0, 0x000000F0, 0x0000F000,
                               0x0000A000, 0x0000AFF0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Firmware, GpioMasksReadBackAndStartAsInputs) {
    Handle h = open("Brondel HUB");
    ASSERT_TRUE(h);
    EXPECT_EQ(readValue(h.get(), 0x1200), okRead(le32(0xFFFFFFFF)));
    EXPECT_EQ(transact(h.get(), writeRequest(0x1200, {0xDF, 0xFF, 0xFF, 0xFF})), kWriteOk);
    EXPECT_EQ(readValue(h.get(), 0x1200), okRead(le32(0xFFFFFFDF)));
    EXPECT_EQ(transact(h.get(), writeRequest(0x1201, {0x20})),
              kWriteOk);  // short masks zero-extend
    EXPECT_EQ(readValue(h.get(), 0x1201), okRead(le32(0x20)));
    EXPECT_EQ(transact(h.get(), writeRequest(0x1201, {})), kWriteFail);
    EXPECT_EQ(transact(h.get(), writeRequest(0x1201, {1, 2, 3, 4, 5})), kWriteFail);
}

TEST_F(Firmware, AdcChannelsAreDistinctSettableAndReadOnly) {
    Handle h = open("Vanta");
    ASSERT_TRUE(h);
    for (uint16_t ch = 0; ch < 8; ++ch)
        EXPECT_EQ(readValue(h.get(), uint16_t(0x1300 + ch)), okRead(le32(100u + 500u * ch)));
    ASSERT_EQ(emu_set_adc(dev_, 3, 0x80000000u), 0);
    EXPECT_EQ(readValue(h.get(), 0x1303), okRead({0, 0, 0, 0x80}));
    EXPECT_EQ(transact(h.get(), writeRequest(0x1303, le32(1))), kWriteFail);
    EXPECT_EQ(emu_set_adc(dev_, 8, 1), -1);
}

TEST_F(Firmware, I2cBridgeReachesTheAddressedTarget) {
    Handle h = open("Vanta");
    ASSERT_TRUE(h);
    EXPECT_EQ(readValue(h.get(), 0x1400), okRead({0x40}));  // power-up address
    EXPECT_EQ(transact(h.get(), writeRequest(0x1401, {0x05})), kWriteOk);
    EXPECT_EQ(transact(h.get(), writeRequest(0x1403, {0xCD, 0xAB})), kWriteOk);
    EXPECT_EQ(emu_get_i2c_register(dev_, 0x40, 0x05), 0xABCD);
    EXPECT_EQ(readValue(h.get(), 0x1403), okRead({0xCD, 0xAB}));

    ASSERT_EQ(emu_add_i2c_target(dev_, 0x50), 0);
    ASSERT_EQ(emu_set_i2c_register(dev_, 0x50, 0x05, 0x1234), 0);
    EXPECT_EQ(transact(h.get(), writeRequest(0x1400, {0x50})), kWriteOk);
    EXPECT_EQ(readValue(h.get(), 0x1403), okRead({0x34, 0x12}));

    EXPECT_EQ(transact(h.get(), writeRequest(0x1400, {0x22})), kWriteOk);  // nobody there
    EXPECT_EQ(readValue(h.get(), 0x1403), kReadFail);
    EXPECT_EQ(transact(h.get(), writeRequest(0x1403, {1, 2})), kWriteFail);
    EXPECT_EQ(transact(h.get(), writeRequest(0x1400, {0x80})), kWriteFail);  // not a 7-bit address
    EXPECT_EQ(readValue(h.get(), 0x1400), okRead({0x22}));

    EXPECT_EQ(transact(h.get(), writeRequest(0x1400, {0x40})), kWriteOk);
    ASSERT_EQ(emu_remove_i2c_target(dev_, 0x40), 0);
    EXPECT_EQ(readValue(h.get(), 0x1403), kReadFail);
    EXPECT_EQ(emu_get_i2c_register(dev_, 0x40, 0), -1);
}

struct WidthCase {
    uint16_t attid;
    Bytes readBack;  // registers 0x10 = 0xBBAA, 0x11 = 0xDDCC
    Bytes written;
    uint16_t reg10, reg11;  // after the write
};

class I2cWidths : public Firmware, public ::testing::WithParamInterface<WidthCase> {};

TEST_P(I2cWidths, DataAttributesMoveOneToFourBytesAtThePointer) {
    const WidthCase &c = GetParam();
    Handle h = open("Vanta");
    ASSERT_TRUE(h);
    emu_set_i2c_register(dev_, 0x40, 0x10, 0xBBAA);
    emu_set_i2c_register(dev_, 0x40, 0x11, 0xDDCC);
    ASSERT_EQ(transact(h.get(), writeRequest(0x1401, {0x10})), kWriteOk);
    EXPECT_EQ(readValue(h.get(), c.attid), okRead(c.readBack));
    EXPECT_EQ(transact(h.get(), writeRequest(c.attid, c.written)), kWriteOk);
    EXPECT_EQ(emu_get_i2c_register(dev_, 0x40, 0x10), c.reg10);
    EXPECT_EQ(emu_get_i2c_register(dev_, 0x40, 0x11), c.reg11);
    Bytes wrongLength = c.written;
    wrongLength.push_back(0);
    EXPECT_EQ(transact(h.get(), writeRequest(c.attid, wrongLength)), kWriteFail);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, I2cWidths,
    ::testing::Values(
        WidthCase{0x1402, {0xAA}, {0x11}, 0xBB11, 0xDDCC},
        WidthCase{0x1403, {0xAA, 0xBB}, {0x11, 0x22}, 0x2211, 0xDDCC},
        WidthCase{0x1404, {0xAA, 0xBB, 0xCC}, {0x11, 0x22, 0x33}, 0x2211, 0xDD33},
        WidthCase{0x1405, {0xAA, 0xBB, 0xCC, 0xDD}, {0x11, 0x22, 0x33, 0x44}, 0x2211, 0x4433}));

TEST_F(Firmware, I2cFourByteAccessWrapsFromRegisterFFToZero) {
    Handle h = open("Vanta");
    ASSERT_TRUE(h);
    emu_set_i2c_register(dev_, 0x40, 0xFF, 0x0201);
    emu_set_i2c_register(dev_, 0x40, 0x00, 0x0403);
    ASSERT_EQ(transact(h.get(), writeRequest(0x1401, {0xFF})), kWriteOk);
    EXPECT_EQ(readValue(h.get(), 0x1405), okRead({1, 2, 3, 4}));
}

TEST_F(Firmware, HubPortMaskSwitchesPorts) {
    Handle h = open("Brondel HUB");
    ASSERT_TRUE(h);
    EXPECT_EQ(readValue(h.get(), 0x8000), okRead(le32(0)));
    EXPECT_EQ(transact(h.get(), writeRequest(0x8000, {0x01, 0, 0, 0})), kWriteOk);
    EXPECT_EQ(readValue(h.get(), 0x8000), okRead(le32(1)));
    EXPECT_EQ(transact(h.get(), writeRequest(0x8000, {0x34, 0x12})), kWriteOk);  // 16-bit write
    EXPECT_EQ(readValue(h.get(), 0x8000), okRead(le32(0x1234)));
    EXPECT_EQ(transact(h.get(), writeRequest(0x8000, {})), kWriteFail);
    EXPECT_EQ(readValue(h.get(), 0x8000), okRead(le32(0x1234)));
}

TEST_F(Firmware, MeterCalibrationRunsOnlyOnTheWriteOfZero) {
    Handle h = open("DMM");
    ASSERT_TRUE(h);
    EXPECT_EQ(readValue(h.get(), 0x8100), okRead({0xFE, 0x03, 0x00, 0x01}));  // -2, 3, 0, 1
    EXPECT_EQ(transact(h.get(), writeRequest(0x8100, {0, 0, 0, 1})), kWriteFail);
    EXPECT_EQ(transact(h.get(), writeRequest(0x8100, {0, 0})), kWriteFail);
    EXPECT_EQ(emu_calibration_count(dev_), 0);
    EXPECT_EQ(transact(h.get(), writeRequest(0x8100, {0, 0, 0, 0})), kWriteOk);
    EXPECT_EQ(emu_calibration_count(dev_), 1);
    EXPECT_EQ(readValue(h.get(), 0x8100), okRead({0, 0, 0, 0}));
    ASSERT_EQ(emu_set_calibration(dev_, -128, 3, 0, 127), 0);
    EXPECT_EQ(readValue(h.get(), 0x8100), okRead({0x80, 0x03, 0x00, 0x7F}));
    EXPECT_EQ(emu_calibration_count(emu_add_device("Vanta", nullptr, nullptr)), -1);
}

float readFloat(hid_device *h, uint16_t attid) {
    const Bytes answer = readValue(h, attid);
    float f = NAN;
    if (answer.size() == 7 && answer[2] == 1)
        std::memcpy(&f, answer.data() + 3, 4);
    return f;
}

TEST_F(Firmware, MeterReadingsAreSinglesThatCanVary) {
    Handle h = open("DMM");
    ASSERT_TRUE(h);
    EXPECT_EQ(readValue(h.get(), 0x8101), okRead({0x00, 0x00, 0xA0, 0x40}));  // 5.0
    EXPECT_EQ(readFloat(h.get(), 0x8102), 0.25f);
    EXPECT_EQ(transact(h.get(), writeRequest(0x8101, {0, 0, 0, 0})), kWriteFail);

    ASSERT_EQ(emu_set_reading(dev_, 0x8102, 1.5f, 0.0f, 0), 0);
    EXPECT_EQ(readFloat(h.get(), 0x8102), 1.5f);
    ASSERT_EQ(emu_set_reading(dev_, 0x8101, 12.0f, 0.5f, 40), 0);
    // Samples spread over at least three periods (40 ms each) however fast
    // the reads are, and at least 40 of them however slow; bounded.
    float low = 100, high = -100;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 40 || (i < 1000000 && std::chrono::steady_clock::now() - start <
                                                  std::chrono::milliseconds(120));
         ++i) {
        const float v = readFloat(h.get(), 0x8101);
        low = std::min(low, v);
        high = std::max(high, v);
    }
    EXPECT_GE(low, 11.5f - 1e-4f);
    EXPECT_LE(high, 12.5f + 1e-4f);
    EXPECT_GT(high - low, 0.1f);  // it really varies
    EXPECT_EQ(emu_set_reading(dev_, 0x8100, 1, 0, 0), -1);
}

TEST_F(Firmware, MeterPowerMonitorHasDieIdAndSettableRegisters) {
    Handle h = open("DMM");
    ASSERT_TRUE(h);
    ASSERT_EQ(transact(h.get(), writeRequest(0x1401, {0xFF})), kWriteOk);
    EXPECT_EQ(readValue(h.get(), 0x1403), okRead({0x60, 0x22}));
    for (int reg = 0; reg <= 0x11; ++reg)
        EXPECT_GE(emu_get_i2c_register(dev_, 0x40, uint8_t(reg)), 0);
    EXPECT_EQ(emu_get_i2c_register(dev_, 0x40, 0x02), 0x0FA0);
    ASSERT_EQ(emu_set_i2c_register(dev_, 0x40, 0x0A, 0x1234), 0);
    ASSERT_EQ(transact(h.get(), writeRequest(0x1401, {0x0A})), kWriteOk);
    EXPECT_EQ(readValue(h.get(), 0x1403), okRead({0x34, 0x12}));
}

TEST_F(Firmware, ControlSetGetAndRemoveOfAttributes) {
    Handle h = open("Vanta");
    ASSERT_TRUE(h);
    // A new attribute becomes served, read-write.
    const uint8_t extra[] = {9, 8, 7};
    ASSERT_EQ(emu_set_attribute(dev_, 0x7777, extra, 3), 0);
    EXPECT_EQ(readValue(h.get(), 0x7777), okRead({9, 8, 7}));
    EXPECT_EQ(transact(h.get(), writeRequest(0x7777, {1})), kWriteOk);
    uint8_t out[64];
    EXPECT_EQ(emu_get_attribute(dev_, 0x7777, out, 64), 1);
    EXPECT_EQ(emu_get_attribute(dev_, 0x7777, out, 0), -1);  // does not fit

    // Identity texts can be replaced from outside though the host cannot.
    ASSERT_EQ(emu_set_attribute(dev_, 1, reinterpret_cast<const uint8_t *>("Other"), 6), 0);
    EXPECT_EQ(readValue(h.get(), 1), okRead(text("Other")));

    // The level attribute reads computed levels; setting it sets the latch.
    ASSERT_EQ(emu_set_attribute(dev_, 0x1200, le32(0).data(), 4), 0);
    ASSERT_EQ(emu_set_attribute(dev_, 0x1203, le32(0xA5).data(), 4), 0);
    EXPECT_EQ(emu_get_attribute(dev_, 0x1203, out, 64), 4);
    EXPECT_EQ(out[0], 0xA5);

    ASSERT_EQ(emu_remove_attribute(dev_, 0x1300), 0);
    EXPECT_EQ(readValue(h.get(), 0x1300), kReadFail);
    EXPECT_EQ(emu_get_attribute(dev_, 0x1300, out, 64), -1);
    ASSERT_EQ(emu_set_attribute(dev_, 0x1300, le32(7).data(), 4), 0);  // served again
    EXPECT_EQ(readValue(h.get(), 0x1300), okRead(le32(7)));

    // A 33-byte value goes out as is, for tests of the host's limits.
    const Bytes big(33, 0x5A);
    ASSERT_EQ(emu_set_attribute(dev_, 0x7000, big.data(), 33), 0);
    Bytes expected{36, 0x13, 0x01};
    expected.insert(expected.end(), big.begin(), big.end());
    EXPECT_EQ(readValue(h.get(), 0x7000), expected);
    const Bytes tooBig(61, 0);
    EXPECT_EQ(emu_set_attribute(dev_, 0x7000, tooBig.data(), 61), -1);
    EXPECT_EQ(emu_set_attribute(99, 0x7000, big.data(), 1), -1);
}

struct MalformedCase {
    const char *name;
    Bytes packet;
    Bytes answer;
};

class Malformed : public Firmware, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(Malformed, GetsRcFailWithTheOpcodeEchoed) {
    Handle h = open("Vanta");
    ASSERT_TRUE(h);
    EXPECT_EQ(transact(h.get(), GetParam().packet), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Malformed,
    ::testing::Values(
        MalformedCase{"ReadWithLength5", {0x05, 0x13, 0x00, 0x01}, {0x03, 0x13, 0x00}},
        MalformedCase{"ReadWithBit6Set", {0x44, 0x13, 0x00, 0x01}, {0x03, 0x13, 0x00}},
        MalformedCase{"WriteWithLength3", {0x03, 0x12, 0x12, 0x03}, {0x03, 0x12, 0x00}},
        MalformedCase{"WriteWithBit7Set", {0x88, 0x12, 0x12, 0x03, 1, 2, 3, 4}, {0x03, 0x12, 0x00}},
        MalformedCase{"MetadataGet", {0x04, 0x10, 0x00, 0x01}, {0x03, 0x10, 0x00}},
        MalformedCase{"ConfigSet", {0x05, 0x11, 0x00, 0x01, 0x00}, {0x03, 0x11, 0x00}},
        MalformedCase{"AllZero", {}, {0x03, 0x00, 0x00}}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
