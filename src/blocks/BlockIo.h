// Attribute traffic of the peripheral blocks and device models. A block made
// without a service (null) fails every transaction instead of crashing.
#ifndef KORVANE_BLOCKIO_H
#define KORVANE_BLOCKIO_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "Attribute.h"
#include "CallGuard.h"
#include "KorService.h"

namespace block_io {

// Reads the device's value into attribute, saying how it ended; a failed
// read keeps the attribute's value.
inline AttributeResult readStatus(KorService *service, Attribute &attribute) {
    return service == nullptr ? AttributeResult{AttributeStatus::NotOpen, 0}
                              : service->read(attribute);
}

// As readStatus, but the value is zeroed first over width bytes, so a short
// answer never leaves bytes of an earlier value in the result.
inline AttributeResult readZeroedStatus(KorService *service, Attribute &attribute, uint8_t width) {
    uint8_t zeros[VALUE_LEN] = {};
    attribute.setValue(zeros, width);
    return readStatus(service, attribute);
}

// Sends attribute's id and value, saying how it ended.
inline AttributeResult writeStatus(KorService *service, const Attribute &attribute) {
    return service == nullptr ? AttributeResult{AttributeStatus::NotOpen, 0}
                              : service->write(attribute);
}

// An argument refused before anything was sent.
inline AttributeResult badArgument() { return AttributeResult{AttributeStatus::BadArgument, 0}; }

// A block's attributes by value: ids base, base + 1, ... base + N - 1.
template <std::size_t... Index>
std::array<Attribute, sizeof...(Index)> attributesFrom(int base, std::index_sequence<Index...>) {
    return {
        {Attribute(static_cast<uint16_t>(base + static_cast<int>(Index)), PERMISSION_NONE, 0)...}};
}

template <std::size_t N>
std::array<Attribute, N> attributesFrom(int base) {
    return attributesFrom(base, std::make_index_sequence<N>{});
}

// Bit pin of a 32-bit mask set or cleared.
inline uint32_t withBit(uint32_t mask, unsigned bit, bool set) {
    const uint32_t one = static_cast<uint32_t>(1) << bit;
    return set ? (mask | one) : (mask & ~one);
}

}  // namespace block_io

#endif
