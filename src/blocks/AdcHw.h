// AdcHw: a device's eight analogue channels, one attribute each.
#ifndef KORVANE_ADCHW_H
#define KORVANE_ADCHW_H

#include <array>
#include <cstdint>
#include <memory>

#include "Attribute.h"
#include "KorService.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

// What a block reaches its service through (see ServiceAnchor.h).
class ServiceAnchor;

class KORVANE_API AdcHw {
public:
    AdcHw(KorService *service, int base);
    ~AdcHw();
    // Copies (and assignments) take the source's service, attribute ids and
    // values into attributes of their own: a whole block.

#ifndef SWIG
    // What the block reaches its service through (see ServiceAnchor.h); null
    // for a block made without a service.
    const std::shared_ptr<ServiceAnchor> &anchor() const { return serviceAnchor; }
#endif

    // The channel's value; 0xFFFFFFFF for channel 8 and above or a failed read.
    uint32_t analogRead(uint8_t channel);

#ifndef SWIG
    // The channel's value (channels 0-7), saying how the read ended.
    Outcome<uint32_t> channel(int channel);
#endif

private:
    static const int kChannels = 8;

    std::shared_ptr<ServiceAnchor> serviceAnchor;
    std::array<Attribute, kChannels> channels;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
