#include <gtest/gtest.h>

#include <vector>

#include "KorDevice.h"
#include "PacketCodec.h"

using namespace korvane;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encodedWrite(Attribute attribute) {
    uint8_t out[packet::kMaxPacketLen] = {};
    size_t len = packet::encodeWrite(attribute, out);
    return Bytes(out, out + len);
}

TEST(PacketCodec, WriteRequestIdHighFirstValueLowFirst) {
    Attribute gpioLevels(ATT_GPIO0_BASE + ATT_GPIO_RW, 0, 0);
    gpioLevels.setValue(static_cast<uint8_t>(0x2A));
    EXPECT_EQ((Bytes{0x05, 0x12, 0x12, 0x03, 0x2A}), encodedWrite(gpioLevels));

    Attribute ports(ATT_USB_PORT_CTRL, 0, 0);
    ports.setValue(static_cast<uint16_t>(0x1234));
    EXPECT_EQ((Bytes{0x06, 0x12, 0x80, 0x00, 0x34, 0x12}), encodedWrite(ports));

    Attribute empty(0xABCD, 0, 0);
    uint8_t none = 0;
    empty.setValue(&none, 0);
    EXPECT_EQ((Bytes{0x04, 0x12, 0xAB, 0xCD}), encodedWrite(empty));

    Attribute full(0x0102, 0, 0);
    uint8_t bytes[VALUE_LEN];
    for (int i = 0; i < VALUE_LEN; ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    full.setValue(bytes, VALUE_LEN);
    Bytes packet = encodedWrite(full);
    ASSERT_EQ(36u, packet.size());
    EXPECT_EQ(36, packet[0]);
    EXPECT_EQ(Bytes(bytes, bytes + VALUE_LEN), Bytes(packet.begin() + 4, packet.end()));
}

TEST(PacketCodec, ReadRequest) {
    uint8_t out[4];
    ASSERT_EQ(4u, packet::encodeRead(ATT_VOLTAGE, out));
    EXPECT_EQ((Bytes{0x04, 0x13, 0x81, 0x01}), Bytes(out, out + 4));
}

TEST(PacketCodec, FrameStartsWithReportNumberAndPadsWithZero) {
    uint8_t report[BUF_LEN];
    std::fill(report, report + BUF_LEN, 0xEE);
    const uint8_t request[] = {0x04, 0x13, 0x81, 0x01};
    KorDevice::frameReport(request, sizeof request, report);
    Bytes expected(BUF_LEN, 0);
    std::copy(request, request + 4, expected.begin() + 1);
    EXPECT_EQ(expected, Bytes(report, report + BUF_LEN));
}

struct ReadAnswerCase {
    const char *name;
    Bytes answer;
    bool accepted;
    uint8_t valueLen;
};

class ReadAnswer : public ::testing::TestWithParam<ReadAnswerCase> {};

TEST_P(ReadAnswer, Acceptance) {
    korPacket received{};
    std::copy(GetParam().answer.begin(), GetParam().answer.end(), received.dat);
    uint8_t valueLen = 0xEE;
    EXPECT_EQ(GetParam().accepted, packet::isReadOk(received.dat, &valueLen));
    if (GetParam().accepted) {
        EXPECT_EQ(GetParam().valueLen, valueLen);
    }
}

// Lengths that pass the header check but exceed VALUE_LEN (0x24, 0x02) are
// refused later, by the value store; see the service tests.
INSTANTIATE_TEST_SUITE_P(
    Answers, ReadAnswer,
    ::testing::Values(ReadAnswerCase{"four_bytes", {0x07, 0x13, 0x01, 1, 2, 3, 4}, true, 4},
                      ReadAnswerCase{"empty", {0x03, 0x13, 0x01}, true, 0},
                      ReadAnswerCase{"bit6", {0x43, 0x13, 0x01}, false, 0},
                      ReadAnswerCase{"bit7", {0x83, 0x13, 0x01}, false, 0},
                      ReadAnswerCase{"rc_fail", {0x07, 0x13, 0x00, 1, 2, 3, 4}, false, 0},
                      ReadAnswerCase{"write_echo", {0x03, 0x12, 0x01}, false, 0},
                      ReadAnswerCase{"length_below_3", {0x02, 0x13, 0x01}, true, 255},
                      ReadAnswerCase{"33_bytes", {0x24, 0x13, 0x01}, true, 33}),
    [](const ::testing::TestParamInfo<ReadAnswerCase> &info) {
        return std::string(info.param.name);
    });

TEST(PacketCodec, WriteAnswerNeedsExactly031201) {
    const Bytes accepted = {0x03, 0x12, 0x01};
    const std::vector<Bytes> refused = {{0x03, 0x12, 0x00},
                                        {0x04, 0x12, 0x01},
                                        {0x03, 0x13, 0x01},
                                        {0x43, 0x12, 0x01},
                                        {0x03, 0xA0, 0x01}};
    korPacket received{};
    std::copy(accepted.begin(), accepted.end(), received.dat);
    EXPECT_TRUE(packet::isWriteOk(received.dat));
    for (const Bytes &answer : refused) {
        std::copy(answer.begin(), answer.end(), received.dat);
        EXPECT_FALSE(packet::isWriteOk(received.dat)) << int(answer[0]) << " " << int(answer[1]);
    }
}

TEST(PacketCodec, NotificationIsByte1A0) {
    korPacket received{};
    received.dat[1] = EVT_NOTIFY;
    EXPECT_TRUE(packet::isNotification(received.dat));
    received.dat[1] = OP_ATT_VALUE_GET;
    EXPECT_FALSE(packet::isNotification(received.dat));
}

}  // namespace
