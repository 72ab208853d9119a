// Attribute traffic of the peripheral blocks and device models. A block made
// without a service (null) fails every transaction instead of crashing.
#ifndef KORVANE_BLOCKIO_H
#define KORVANE_BLOCKIO_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Attribute.h"
#include "KorService.h"

namespace block_io {

// Reads the device's value into attribute; true on failure (attribute kept).
inline bool read(KorService *service, Attribute *attribute) {
    return service == nullptr || service->readAttribute(attribute);
}

// As read, but the value is zeroed first over width bytes, so a short answer
// never leaves bytes of an earlier value in the result.
inline bool readZeroed(KorService *service, Attribute *attribute, uint8_t width) {
    uint8_t zeros[VALUE_LEN] = {};
    attribute->setValue(zeros, width);
    return read(service, attribute);
}

// Sends attribute's id and value; true on failure.
inline bool write(KorService *service, const Attribute &attribute) {
    return service == nullptr || service->writeAttribute(attribute);
}

// A block owns its attributes through an array of plain pointers. These
// helpers make, copy, assign and free such an array.

// Fills slots with make(0) .. make(N - 1): all of them, or none when an
// allocation throws (those made so far are freed again).
template <std::size_t N, typename Make>
void fillOwned(Attribute *(&slots)[N], Make make) {
    std::unique_ptr<Attribute> made[N];
    for (std::size_t n = 0; n < N; ++n) {
        made[n].reset(make(n));
    }
    for (std::size_t n = 0; n < N; ++n) {
        slots[n] = made[n].release();
    }
}

// Fresh attributes with the ids base, base + 1, ...
template <std::size_t N>
void makeOwned(Attribute *(&slots)[N], int base) {
    fillOwned(slots, [base](std::size_t n) {
        return new Attribute(static_cast<uint16_t>(base + static_cast<int>(n)), PERMISSION_NONE, 0);
    });
}

// Attributes of the block's own with the source's ids and values.
template <std::size_t N>
void copyOwned(Attribute *(&slots)[N], Attribute *const (&source)[N]) {
    fillOwned(slots, [&source](std::size_t n) { return new Attribute(*source[n]); });
}

// The block keeps its attribute objects; each takes the source's id and value.
template <std::size_t N>
void assignOwned(Attribute *const (&slots)[N], Attribute *const (&source)[N]) {
    for (std::size_t n = 0; n < N; ++n) {
        *slots[n] = *source[n];
    }
}

template <std::size_t N>
void deleteOwned(Attribute *const (&slots)[N]) {
    for (Attribute *attribute : slots) {
        delete attribute;
    }
}

// Bit pin of a 32-bit mask set or cleared.
inline uint32_t withBit(uint32_t mask, unsigned bit, bool set) {
    const uint32_t one = static_cast<uint32_t>(1) << bit;
    return set ? (mask | one) : (mask & ~one);
}

}  // namespace block_io

#endif
