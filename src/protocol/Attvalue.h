// Attvalue: an attribute value of up to VALUE_LEN bytes with its length.
#ifndef KORVANE_ATTVALUE_H
#define KORVANE_ATTVALUE_H

#include <cstdint>
#include <cwchar>

#include "export.h"
#include "kordefs.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

class KORVANE_API Attvalue {
public:
    Attvalue();
    // Setters: false when stored, true when refused (nothing changed).
    bool setValue(uint8_t value);
    bool setValue(int8_t value);
    bool setValue(uint16_t value);
    bool setValue(int16_t value);
    bool setValue(uint32_t value);
    bool setValue(int32_t value);
    bool setValue(uint64_t value);
    bool setValue(int64_t value);
    bool setValue(char *text);
    bool setValue(float value);
    bool setValue(double value);
    bool setValue(uint8_t *data, uint8_t length);

    uint8_t getValueUint8();
    int8_t getValueInt8();
    uint16_t getValueUint16();
    int16_t getValueInt16();
    uint32_t getValueUint32();
    int32_t getValueInt32();
    uint64_t getValueUint64();
    int64_t getValueInt64();
    char *getValueStr();
    wchar_t *getValueU8str();
    float getValueFloat();
    double getValueDouble();
    uint8_t getValueLength();

    // Read-only view of the value bytes for packet encoding (not published
    // to Python).
    const uint8_t *rawBytes() const { return storage; }
    uint8_t valueLength() const { return length; }

private:
    template <typename T>
    bool storeScalar(T value);
    template <typename T>
    T loadScalar() const;

    // The 32 value bytes, the string terminator at index VALUE_LEN, and room
    // for one whole zero wide character there, so that a reader of the
    // storage as a wide string always stops inside it.
    alignas(8) uint8_t storage[VALUE_LEN + sizeof(wchar_t)];
    uint8_t length;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
