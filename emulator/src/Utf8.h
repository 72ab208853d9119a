// UTF-8 to wide strings for serial numbers and paths given as narrow text.
#ifndef KORVANE_EMU_UTF8_H
#define KORVANE_EMU_UTF8_H

#include <string>

namespace emu {

// Invalid or truncated sequences become U+FFFD, as a USB string would
// show an unrepresentable character.
std::wstring wideFromUtf8(const std::string &text);
// Characters that are not Unicode scalar values become U+FFFD.
std::string utf8FromWide(const std::wstring &text);
// Appends the UTF-8 bytes of one code point (0 to 0x10FFFF).
void appendUtf8(std::string &out, char32_t code);

}  // namespace emu

#endif
