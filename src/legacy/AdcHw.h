// AdcHw: the korvane module's analogue channels, an adapter over AdcInputs
// whose reads give 0xFFFFFFFF when they fail.
#ifndef KORVANE_ADCHW_H
#define KORVANE_ADCHW_H

#include <cstdint>
#include <memory>

#include "AdcInputs.h"
#include "KorService.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

class KORVANE_API AdcHw {
public:
    AdcHw(KorService *service, int base);
    ~AdcHw();

#ifndef SWIG
    // What the block reaches its service through (see ServiceAnchor.h).
    const std::shared_ptr<ServiceAnchor> &anchor() const { return adc.anchor(); }
#endif

    // The channel's value; 0xFFFFFFFF for channel 8 and above or a failed read.
    uint32_t analogRead(uint8_t channel);

private:
    AdcInputs adc;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
