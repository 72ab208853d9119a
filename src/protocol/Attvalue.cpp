#include "Attvalue.h"

#include <cstring>
#include <type_traits>

namespace korvane {

Attvalue::Attvalue() : storage{}, length(1) {}

namespace {
// The unsigned integer of the same width as a scalar view (1, 2, 4 or 8
// bytes).
template <size_t Bytes>
using UintOf = std::conditional_t<
    Bytes == 1, uint8_t,
    std::conditional_t<Bytes == 2, uint16_t, std::conditional_t<Bytes == 4, uint32_t, uint64_t>>>;
}  // namespace

// Numbers are stored least significant byte first whatever the host's byte
// order, since the value bytes go onto the wire exactly as stored.
template <typename T>
bool Attvalue::storeScalar(T value) {
    using Bits = UintOf<sizeof(T)>;
    Bits bits;
    std::memcpy(&bits, &value, sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i) {
        storage[i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    length = sizeof(T);
    return false;
}

template <typename T>
T Attvalue::loadScalar() const {
    using Bits = UintOf<sizeof(T)>;
    uint64_t bits = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        bits |= static_cast<uint64_t>(storage[i]) << (8 * i);
    }
    Bits narrow = static_cast<Bits>(bits);
    T value;
    std::memcpy(&value, &narrow, sizeof(T));
    return value;
}

bool Attvalue::setValue(uint8_t value) { return storeScalar(value); }
bool Attvalue::setValue(int8_t value) { return storeScalar(value); }
bool Attvalue::setValue(uint16_t value) { return storeScalar(value); }
bool Attvalue::setValue(int16_t value) { return storeScalar(value); }
bool Attvalue::setValue(uint32_t value) { return storeScalar(value); }
bool Attvalue::setValue(int32_t value) { return storeScalar(value); }
bool Attvalue::setValue(uint64_t value) { return storeScalar(value); }
bool Attvalue::setValue(int64_t value) { return storeScalar(value); }
bool Attvalue::setValue(float value) { return storeScalar(value); }
bool Attvalue::setValue(double value) { return storeScalar(value); }

bool Attvalue::setValue(char *text) {
    if (text == nullptr) {
        return true;
    }
    // A text and its terminator must fit in VALUE_LEN bytes.
    size_t chars = strnlen(text, VALUE_LEN);
    if (chars >= static_cast<size_t>(VALUE_LEN)) {
        return true;
    }
    std::memcpy(storage, text, chars + 1);
    length = static_cast<uint8_t>(chars);
    return false;
}

bool Attvalue::setValue(uint8_t *data, uint8_t count) {
    if (data == nullptr || count > VALUE_LEN) {
        return true;
    }
    // memmove: the source may be this value's own storage.
    std::memmove(storage, data, count);
    length = count;
    return false;
}

uint8_t Attvalue::getValueUint8() { return loadScalar<uint8_t>(); }
int8_t Attvalue::getValueInt8() { return loadScalar<int8_t>(); }
uint16_t Attvalue::getValueUint16() { return loadScalar<uint16_t>(); }
int16_t Attvalue::getValueInt16() { return loadScalar<int16_t>(); }
uint32_t Attvalue::getValueUint32() { return loadScalar<uint32_t>(); }
int32_t Attvalue::getValueInt32() { return loadScalar<int32_t>(); }
uint64_t Attvalue::getValueUint64() { return loadScalar<uint64_t>(); }
int64_t Attvalue::getValueInt64() { return loadScalar<int64_t>(); }
float Attvalue::getValueFloat() { return loadScalar<float>(); }
double Attvalue::getValueDouble() { return loadScalar<double>(); }
uint8_t Attvalue::getValueLength() { return length; }

char *Attvalue::getValueStr() {
    // A value of 32 bytes without a zero still reads as a bounded string.
    storage[VALUE_LEN] = 0;
    return reinterpret_cast<char *>(storage);
}

wchar_t *Attvalue::getValueU8str() {
    // One whole zero wide character after the 32 value bytes keeps a reader
    // of wide characters inside the storage.
    std::memset(storage + VALUE_LEN, 0, sizeof(wchar_t));
    return reinterpret_cast<wchar_t *>(storage);
}

}  // namespace korvane
