// Attribute traffic of the peripheral blocks and device models. A block
// reaches its service through a lease on the service's anchor, so a block
// made without a service, or whose service is gone, fails every transaction
// as on a closed device instead of crashing.
#ifndef KORVANE_BLOCKIO_H
#define KORVANE_BLOCKIO_H

#include <cstdint>
#include <memory>

#include "Attribute.h"
#include "CallGuard.h"
#include "KorService.h"
#include "ServiceAnchor.h"

namespace korvane {

namespace block_io {

// One call of a block: the service (null when there is none any more) kept
// alive, and the call lock of its link held, for the call's duration.
class BlockCall {
public:
    explicit BlockCall(const std::shared_ptr<ServiceAnchor> &anchor)
        : lease(anchor), call(lease.link()) {}
    KorService *service() const { return lease.service(); }

private:
    ServiceLease lease;
    CallGuard call;
};

inline AttributeResult notOpen() { return AttributeResult{AttributeStatus::NotOpen, 0}; }

// A value of exactly width (1 to 4) bytes, least significant first.
inline Outcome<uint32_t> readUint(KorService *service, uint16_t attid, uint8_t width) {
    if (service == nullptr) {
        return Outcome<uint32_t>::failed(notOpen());
    }
    const Outcome<AnswerValue> got = service->readValue(attid, width, width);
    return got.ok() ? Outcome<uint32_t>{got.result, got.value().littleEndian()}
                    : Outcome<uint32_t>::failed(got.result);
}

// Writes a value of width (1 to 4) bytes, least significant first, to
// attribute attid.
inline AttributeResult writeUint(KorService *service, uint16_t attid, uint32_t value,
                                 uint8_t width) {
    if (service == nullptr) {
        return notOpen();
    }
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    Attribute attribute(attid, PERMISSION_NONE, 0);
    attribute.setValue(bytes, width);
    return service->write(attribute);
}

inline AttributeResult ok() { return AttributeResult{AttributeStatus::Ok, RC_OK}; }

// An argument refused before anything was sent.
inline AttributeResult badArgument() { return AttributeResult{AttributeStatus::BadArgument, 0}; }

// Bit pin of a 32-bit mask set or cleared.
inline uint32_t withBit(uint32_t mask, unsigned bit, bool set) {
    const uint32_t one = static_cast<uint32_t>(1) << bit;
    return set ? (mask | one) : (mask & ~one);
}

// The anchor of a service, or none for a block made without one.
inline std::shared_ptr<ServiceAnchor> anchorOf(KorService *service) {
    return service == nullptr ? nullptr : service->anchor();
}

}  // namespace block_io

}  // namespace korvane

#endif
