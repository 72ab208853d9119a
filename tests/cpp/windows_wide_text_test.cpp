// Wide text where wchar_t has 16 bits (Windows: UTF-16 units) as well as 32
// (Linux): the wide view of an attribute value, the narrowing of hidapi's
// enumeration strings, and their conversion to UTF-8, down to surrogate
// pairs carried from the emulated device through hid_enumerate.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <type_traits>
#include <vector>

#include "Attvalue.h"
#include "KorDeviceManager.h"
#include "WideUtf8.h"
#include "emu_helpers.h"

using namespace korvane;

namespace {

constexpr size_t kUnit = sizeof(wchar_t);

// A unit's bits as a number (wchar_t is signed on Linux).
unsigned long unitValue(wchar_t unit) { return static_cast<std::make_unsigned_t<wchar_t>>(unit); }

// The wide units a reader of the value bytes sees: each unit takes its
// bytes in storage order (x86 and ARM Windows and Linux: little-endian).
std::vector<unsigned long> unitsOf(const std::string &bytes) {
    std::vector<unsigned long> units;
    for (size_t at = 0; at < bytes.size(); at += kUnit) {
        unsigned long unit = 0;
        for (size_t i = 0; i < kUnit && at + i < bytes.size(); ++i)
            unit |= static_cast<unsigned long>(static_cast<unsigned char>(bytes[at + i]))
                    << (8 * i);
        units.push_back(unit);
    }
    while (!units.empty() && units.back() == 0)
        units.pop_back();
    return units;
}

struct TextCase {
    const char *name;
    std::string text;  // UTF-8 bytes, as a device stores its texts
};

class WideView : public ::testing::TestWithParam<TextCase> {};

// The wide view of a text value holds the text's bytes in whole wchar_t
// units and ends with them, whatever the unit's width: 31 bytes of text and
// the terminator fill the 32 value bytes (16 units of 2, 8 of 4), and the
// zero unit after the storage ends the string inside it.
TEST_P(WideView, UnitsAreTheTextBytesAndEndWithThem) {
    const std::string &text = GetParam().text;
    ASSERT_LT(text.size(), static_cast<size_t>(VALUE_LEN));
    Attvalue value;
    std::vector<char> source(text.begin(), text.end());
    source.push_back('\0');
    ASSERT_FALSE(value.setValue(source.data()));

    const wchar_t *wide = value.getValueU8str();
    const std::vector<unsigned long> expected = unitsOf(text);
    ASSERT_EQ(expected.size(), std::wcslen(wide));
    EXPECT_EQ((text.size() + kUnit - 1) / kUnit, expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(expected[i], unitValue(wide[i])) << "unit " << i;
    // The narrow view is unchanged by the wide one.
    EXPECT_EQ(text, value.getValueStr());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WideView,
    ::testing::Values(TextCase{"empty", ""}, TextCase{"one", "V"}, TextCase{"unit4", "Vant"},
                      TextCase{"unit5", "Vanta"},
                      TextCase{"ascii31", "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"},
                      // 31 bytes with two-, three- and four-byte UTF-8 forms.
                      TextCase{"utf8_31",
                               "V\xC3\xA4nta \xE2\x82\xAC \xF0\x9F\x98\x80 0123456789ABC"}),
    [](const ::testing::TestParamInfo<TextCase> &info) { return std::string(info.param.name); });

TEST(WideView, ThirtyTwoBytesStopAtTheZeroUnitAfterThem) {
    Attvalue value;
    uint8_t bytes[VALUE_LEN];
    for (int i = 0; i < VALUE_LEN; ++i)
        bytes[i] = static_cast<uint8_t>(0xC0 + i);
    ASSERT_FALSE(value.setValue(bytes, VALUE_LEN));
    const wchar_t *wide = value.getValueU8str();
    ASSERT_EQ(VALUE_LEN / kUnit, std::wcslen(wide));
    EXPECT_EQ(unitValue(wide[VALUE_LEN / kUnit - 1]),
              unitsOf(std::string(reinterpret_cast<char *>(bytes), VALUE_LEN)).back());
}

struct NarrowCase {
    const char *name;
    std::wstring wide;
    std::string narrow;
};

class Narrowing : public ::testing::TestWithParam<NarrowCase> {};

// convertWcharToString keeps the low 8 bits of each unit up to the first
// zero unit, 31 characters or more.
TEST_P(Narrowing, EachUnitKeepsItsLowByte) {
    std::wstring text = GetParam().wide;
    EXPECT_EQ(GetParam().narrow, convertWcharToString(&text[0]));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Narrowing,
    ::testing::Values(NarrowCase{"ascii31", L"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234",
                                 "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"},
                      NarrowCase{"latin1", L"V\u00e4nta", "V\xE4nta"},
                      NarrowCase{"euro", L"\u20ac1",
                                 "\xAC"
                                 "1"},
                      NarrowCase{"ends_at_zero", std::wstring(L"DMM\0tail", 8), "DMM"}),
    [](const ::testing::TestParamInfo<NarrowCase> &info) { return std::string(info.param.name); });

struct Utf8Case {
    const char *name;
    std::vector<unsigned long> units;  // without the terminator
    std::string utf8;
};

class WideToUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(WideToUtf8, UnitsBecomeUtf8) {
    std::vector<wchar_t> text;
    for (unsigned long unit : GetParam().units)
        text.push_back(static_cast<wchar_t>(unit));
    text.push_back(0);
    EXPECT_EQ(GetParam().utf8, korvane::wideToUtf8(text.data()));
}

INSTANTIATE_TEST_SUITE_P(
    Units, WideToUtf8,
    ::testing::Values(Utf8Case{"ascii", {'D', 'M', 'M'}, "DMM"},
                      Utf8Case{"two_bytes", {0xE4}, "\xC3\xA4"},
                      Utf8Case{"three_bytes", {0x20AC}, "\xE2\x82\xAC"},
                      Utf8Case{"last_bmp",
                               {0xFFFD, 'x'},
                               "\xEF\xBF\xBD"
                               "x"},
                      Utf8Case{"surrogate_pair", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
                      Utf8Case{"highest_pair", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
                      Utf8Case{"pair_among_text",
                               {'a', 0xD800, 0xDC00, 'b'},
                               "a\xF0\x90\x80\x80"
                               "b"},
                      Utf8Case{"lone_high",
                               {0xD83D, 'x'},
                               "\xEF\xBF\xBD"
                               "x"},
                      Utf8Case{"high_at_end", {'x', 0xD83D}, "x\xEF\xBF\xBD"},
                      Utf8Case{"lone_low", {0xDE00}, "\xEF\xBF\xBD"},
                      Utf8Case{"reversed_pair", {0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"}),
    [](const ::testing::TestParamInfo<Utf8Case> &info) { return std::string(info.param.name); });

TEST(WideToUtf8, CharacterAboveTheBasicPlaneInTheCompilersEncoding) {
    // One unit where wchar_t has 32 bits, a surrogate pair where it has 16.
    const wchar_t *grin = L"\U0001F600";
    EXPECT_EQ(kUnit == 2 ? 2u : 1u, std::wcslen(grin));
    EXPECT_EQ("\xF0\x9F\x98\x80", korvane::wideToUtf8(grin));
}

class WideEnumeration : public EmuTest {};

// Texts set as UTF-8 on the emulated device cross hid_enumerate as wide
// strings (UTF-16 on Windows) and come back from the listing unchanged.
TEST_F(WideEnumeration, NonAsciiSerialAndProductComeBackAsUtf8) {
    const std::string serial = "VT-\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80-0123456789abcdefgh";
    ASSERT_EQ(31u, serial.size());
    const int dev = addDevice("Vanta", serial.c_str(), "/dev/emu-wide");
    ASSERT_EQ(0, emu_set_product_string(dev, L"V\u00e4nta \U0001F600"));
    ASSERT_EQ(0, emu_set_manufacturer_string(dev, L"\u20ac"));

    const std::vector<AttachedDevice> found = listAttachedDevices();
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(serial, found[0].serial);
    EXPECT_EQ("V\xC3\xA4nta \xF0\x9F\x98\x80", found[0].product);
    EXPECT_EQ("\xE2\x82\xAC", found[0].manufacturer);
}

}  // namespace
