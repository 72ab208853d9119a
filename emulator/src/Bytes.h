// Byte-level helpers shared by the firmware models: attribute values are byte
// strings, numbers travel least significant byte first.
#ifndef KORVANE_EMU_BYTES_H
#define KORVANE_EMU_BYTES_H

#include <cstdint>
#include <cstring>
#include <vector>

namespace emu {

using Bytes = std::vector<uint8_t>;

inline Bytes le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// The first four bytes (fewer when the value is shorter), zero-extended.
inline uint32_t fromLe(const Bytes &b) {
    uint32_t v = 0;
    for (size_t i = 0; i < b.size() && i < 4; ++i) {
        v |= uint32_t(b[i]) << (8 * i);
    }
    return v;
}

inline Bytes floatLe(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return le32(bits);
}

inline float floatFromLe(const Bytes &b) {
    uint32_t bits = fromLe(b);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

}  // namespace emu

#endif
