// AdcInputs: a device's eight analogue channels, one attribute each from a
// base id.
#ifndef KORVANE_ADCINPUTS_H
#define KORVANE_ADCINPUTS_H

#include <cstdint>
#include <memory>

#include "AttributeStatus.h"
#include "KorService.h"
#include "export.h"

namespace korvane {

// What a block reaches its service through (see ServiceAnchor.h).
class ServiceAnchor;

class KORVANE_API AdcInputs {
public:
    static const int kChannels = 8;

    // A block made without a service fails every call as not open.
    AdcInputs(KorService *service, int base);

    // The channel's count (channels 0-7), saying how the read ended.
    Outcome<uint32_t> read(int channel);

    // What the block reaches its service through (null for a block made
    // without a service).
    const std::shared_ptr<ServiceAnchor> &anchor() const { return serviceAnchor; }

private:
    std::shared_ptr<ServiceAnchor> serviceAnchor;
    int firstId;
};

}  // namespace korvane

#endif
