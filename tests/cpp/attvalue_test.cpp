#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "Attribute.h"
#include "KorDeviceManager.h"

using namespace korvane;

namespace {

TEST(Attvalue, NewValueIsOneZeroByte) {
    Attvalue value;
    Attribute attribute(0x8101, PERMISSION_READABLE, PROPERTY_NOTIFY);
    EXPECT_EQ(1, value.getValueLength());
    EXPECT_EQ(0u, value.getValueUint64());
    EXPECT_EQ(1, attribute.getValueLength());
    EXPECT_EQ(0u, attribute.getValueUint64());
    EXPECT_EQ(0x8101, attribute.getAttid());
    // The other storage bytes start zero too: a 4-byte view of a new value is 0.
    EXPECT_EQ(0u, attribute.getValueUint32());
}

TEST(Attvalue, ScalarsAreLittleEndianWithTheirWidth) {
    Attvalue value;
    value.setValue(static_cast<uint16_t>(0x1234));
    EXPECT_EQ(2, value.getValueLength());
    EXPECT_EQ(0x34, value.getValueUint8());
    value.setValue(static_cast<int32_t>(-70000));
    EXPECT_EQ(4, value.getValueLength());
    EXPECT_EQ(-70000, value.getValueInt32());
    EXPECT_EQ(0xFFFEEE90u, value.getValueUint32());
    value.setValue(static_cast<uint64_t>(0x0102030405060708ull));
    EXPECT_EQ(8, value.getValueLength());
    EXPECT_EQ(0x08, value.rawBytes()[0]);
    EXPECT_EQ(0x01, value.rawBytes()[7]);
    value.setValue(static_cast<int8_t>(-1));
    EXPECT_EQ(1, value.getValueLength());
    EXPECT_EQ(255, value.getValueUint8());
    EXPECT_EQ(-1, value.getValueInt8());
    value.setValue(0.1f);
    EXPECT_EQ(4, value.getValueLength());
    EXPECT_FLOAT_EQ(0.1f, value.getValueFloat());
    value.setValue(1e300);
    EXPECT_EQ(8, value.getValueLength());
    EXPECT_DOUBLE_EQ(1e300, value.getValueDouble());
}

TEST(Attvalue, SetterKeepsBytesBeyondItsView) {
    Attvalue value;
    value.setValue(static_cast<uint16_t>(0x1234));
    value.setValue(static_cast<uint8_t>(0x56));
    EXPECT_EQ(0x1256, value.getValueUint16());
    EXPECT_EQ(1, value.getValueLength());
}

TEST(Attvalue, NumberReadsAsText) {
    Attvalue value;
    value.setValue(static_cast<uint32_t>(6513249));  // 'a' 'b' 'c' 0
    EXPECT_STREQ("abc", value.getValueStr());
}

struct TextCase {
    std::string text;
    bool refused;
};

class AttvalueText : public ::testing::TestWithParam<TextCase> {};

TEST_P(AttvalueText, StoresUpTo31Characters) {
    Attvalue value;
    value.setValue(static_cast<uint32_t>(0xCAFEF00D));
    std::string text = GetParam().text;
    EXPECT_EQ(GetParam().refused, value.setValue(&text[0]));
    if (GetParam().refused) {
        EXPECT_EQ(4, value.getValueLength());
        EXPECT_EQ(0xCAFEF00Du, value.getValueUint32());
    } else {
        EXPECT_EQ(text.size(), value.getValueLength());
        EXPECT_EQ(text, value.getValueStr());
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, AttvalueText,
                         ::testing::Values(TextCase{"", false},
                                           TextCase{std::string(31, 'x'), false},
                                           TextCase{std::string(32, 'x'), true},
                                           TextCase{std::string(40, 'x'), true},
                                           TextCase{"\xC3\xA9", false}));

TEST(Attvalue, RawBytesUpTo32) {
    Attvalue value;
    uint8_t bytes[40];
    for (int i = 0; i < 40; ++i) {
        bytes[i] = static_cast<uint8_t>('A' + i % 26);
    }
    EXPECT_TRUE(value.setValue(bytes, 33));
    EXPECT_EQ(1, value.getValueLength());
    EXPECT_FALSE(value.setValue(bytes, 32));
    EXPECT_EQ(32, value.getValueLength());
    // 32 bytes without a zero come back whole as text, and no further.
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 32), value.getValueStr());
    EXPECT_FALSE(value.setValue(bytes, 0));
    EXPECT_EQ(0, value.getValueLength());
}

TEST(Attvalue, NullSourcesAreRefused) {
    Attvalue value;
    value.setValue(static_cast<uint16_t>(0xBEEF));
    EXPECT_TRUE(value.setValue(static_cast<char *>(nullptr)));
    EXPECT_TRUE(value.setValue(static_cast<uint8_t *>(nullptr), 4));
    EXPECT_EQ(2, value.getValueLength());
    EXPECT_EQ(0xBEEF, value.getValueUint16());
}

TEST(Attvalue, WideViewEndsInsideTheStorage) {
    Attvalue value;
    uint8_t full[VALUE_LEN];
    std::memset(full, 0x41, sizeof full);
    value.setValue(full, VALUE_LEN);
    // A wide reader of 32 nonzero bytes stops at the zero wide character
    // placed right after them.
    const wchar_t *wide = value.getValueU8str();
    EXPECT_EQ(VALUE_LEN / sizeof(wchar_t), std::wcslen(wide));
    EXPECT_EQ(std::string(VALUE_LEN / sizeof(wchar_t), 'A'),
              convertWcharToString(value.getValueU8str()));
}

TEST(Attribute, CopyKeepsIdAndValue) {
    Attribute source(0x1203, 0, 0);
    source.setValue(static_cast<uint32_t>(0x11223344));
    Attribute copy(0x0001, 0, 0);
    copy = source;
    EXPECT_EQ(0x1203, copy.getAttid());
    EXPECT_EQ(0x11223344u, copy.getValueUint32());
    EXPECT_EQ(4, copy.getValueLength());
}

}  // namespace
