// Brondel: the korvane module's switchable USB hub (port power switching
// plus GPIO), an adapter over Hub that keeps the port mask it last read or
// wrote, for single-port changes to start from.
#ifndef KORVANE_BRONDEL_H
#define KORVANE_BRONDEL_H

#include <cstdint>
#include <string>

#include "Attribute.h"
#include "GpioHw.h"
#include "KorCore.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
class Hub;
#endif

class KORVANE_API Brondel : public KorCore {
public:
    Brondel();
    ~Brondel();
    bool open();
    bool open(std::string serial);
    bool enableAllUsbPort();
    // Ports are numbered 1 to 32; others are refused without traffic.
    bool enableUsbPort(uint32_t port);
    bool disableAllUsbPort();
    bool disableUsbPort(uint32_t port);
    // 0 when the port mask was read into the cache, 1 when the read failed.
    uint32_t getUsbPortStatus();

    GpioHw gpiohw;

private:
    bool openHub(const std::string *serial);
    bool writePortMask(uint32_t mask);
    bool switchPort(uint32_t port, bool on);
    Hub &hub() const;

    Attribute portControl;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
