// Wide strings (wchar_t: UTF-32 on Linux, UTF-16 on Windows) to UTF-8 and
// back. The core turns hidapi's enumeration texts into UTF-8 with it; the
// emulated HID library (which does not link the core) its serial numbers
// given as UTF-8 into wide texts and back for the state file. Header-only.
#ifndef KORVANE_WIDE_UTF8_H
#define KORVANE_WIDE_UTF8_H

#include <cstddef>
#include <cwchar>
#include <string>
#include <type_traits>

namespace korvane {

namespace wide_utf8 {

constexpr char32_t kReplacement = 0xFFFD;

// A unit's value, through the unsigned type: wchar_t is signed on Linux.
inline char32_t unitValue(wchar_t unit) {
    return char32_t(static_cast<std::make_unsigned_t<wchar_t>>(unit));
}

inline void appendUtf8(std::string &out, char32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// Where wchar_t has 16 bits, a character above U+FFFF takes a surrogate pair.
inline void appendWide(std::wstring &out, char32_t code) {
    if (sizeof(wchar_t) == 2 && code > 0xFFFF) {
        out += wchar_t(0xD800 + ((code - 0x10000) >> 10));
        out += wchar_t(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
        out += wchar_t(code);
    }
}

}  // namespace wide_utf8

// The units [text, text + length) in UTF-8. A surrogate pair makes one
// character (UTF-16 units, however wide wchar_t is); a lone surrogate or a
// unit above U+10FFFF becomes U+FFFD.
inline std::string wideToUtf8(const wchar_t *text, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        char32_t code = wide_utf8::unitValue(text[i]);
        const char32_t next = i + 1 < length ? wide_utf8::unitValue(text[i + 1]) : 0;
        if (code >= 0xD800 && code <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            code = wide_utf8::kReplacement;
        }
        wide_utf8::appendUtf8(out, code);
    }
    return out;
}

inline std::string wideToUtf8(const std::wstring &text) {
    return wideToUtf8(text.data(), text.size());
}

// Up to the first zero unit; "" for null.
inline std::string wideToUtf8(const wchar_t *text) {
    return text == nullptr ? std::string() : wideToUtf8(text, std::wcslen(text));
}

// The UTF-8 text as wide units. A byte that starts no sequence, and a
// sequence that is cut short, overlong, a surrogate or above U+10FFFF,
// becomes U+FFFD (as a USB string shows a character it cannot represent).
inline std::wstring utf8ToWide(const std::string &text) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        unsigned extra = 0;
        char32_t code = lead, minimum = 0;
        if (lead < 0x80) {
            out += wchar_t(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, code = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, code = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, code = lead & 0x07, minimum = 0x10000;
        } else {
            wide_utf8::appendWide(out, wide_utf8::kReplacement);
            ++i;
            continue;
        }
        std::size_t taken = 1;
        for (; taken <= extra && i + taken < text.size(); ++taken) {
            const unsigned char c = static_cast<unsigned char>(text[i + taken]);
            if ((c & 0xC0) != 0x80)
                break;
            code = (code << 6) | (c & 0x3F);
        }
        const bool valid = taken == extra + 1 && code >= minimum && code <= 0x10FFFF &&
                           !(code >= 0xD800 && code <= 0xDFFF);
        wide_utf8::appendWide(out, valid ? code : wide_utf8::kReplacement);
        i += taken;  // a sequence cut short is one U+FFFD; the byte that cut it comes next
    }
    return out;
}

}  // namespace korvane

#endif
