#include "Utf8.h"

namespace emu {

namespace {
// Where wchar_t has 16 bits (Windows) wide strings are UTF-16: a code point
// above U+FFFF takes a surrogate pair.
constexpr bool kUtf16 = sizeof(wchar_t) == 2;

void appendCodePoint(std::wstring &out, char32_t cp) {
    if (kUtf16 && cp > 0xFFFF) {
        out.push_back(wchar_t(0xD800 + ((cp - 0x10000) >> 10)));
        out.push_back(wchar_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
        out.push_back(wchar_t(cp));
    }
}
}  // namespace

std::wstring wideFromUtf8(const std::string &text) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        unsigned extra = 0;
        char32_t cp = lead;
        char32_t minimum = 0;
        if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07;
            minimum = 0x10000;
        } else if (lead >= 0xE0) {
            extra = 2;
            cp = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            cp = lead & 0x1F;
            minimum = 0x80;
        } else if (lead >= 0x80) {
            out.push_back(L'\uFFFD');
            ++i;
            continue;
        }
        if (lead >= 0xF5) {
            out.push_back(L'\uFFFD');
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= extra && i + j < text.size(); ++j) {
            const unsigned char c = static_cast<unsigned char>(text[i + j]);
            if ((c & 0xC0) != 0x80)
                break;
            cp = (cp << 6) | (c & 0x3F);
        }
        const bool complete = j == extra + 1;
        const bool valid =
            complete && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        appendCodePoint(out, valid ? cp : 0xFFFD);
        i += complete ? j : (j > 1 ? j : 1);
    }
    return out;
}

std::string utf8FromWide(const std::wstring &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = char32_t(text[i]);
        const char32_t next = i + 1 < text.size() ? char32_t(text[i + 1]) : 0;
        if (kUtf16 && cp >= 0xD800 && cp <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = 0xFFFD;
        appendUtf8(out, cp);
    }
    return out;
}

void appendUtf8(std::string &out, char32_t code) {
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

}  // namespace emu
