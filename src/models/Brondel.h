// Brondel: the switchable USB hub (port power switching plus GPIO).
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
#endif

class KORVANE_API Brondel : public KorCore {
public:
    Brondel();
#ifndef SWIG
    // receive: see KorCore(KorService::Receive).
    explicit Brondel(KorService::Receive receive);
#endif
    ~Brondel();
#ifndef SWIG
    // Movable, not copyable: the object moved to takes the connection, the
    // one moved from is left closed (see KorCore::swapConnection). Pin and
    // channel handles and pointers to the blocks stay with their object.
    Brondel(Brondel &&other);
    Brondel &operator=(Brondel &&other);
#endif
    bool open();
    bool open(std::string serial);
    bool enableAllUsbPort();
    // Ports are numbered 1 to 32; others are refused without traffic.
    bool enableUsbPort(uint32_t port);
    bool disableAllUsbPort();
    bool disableUsbPort(uint32_t port);
    // 0 when the port mask was read into the cache, 1 when the read failed.
    uint32_t getUsbPortStatus();

#ifndef SWIG
    // The hub's whole port mask (bit n - 1 for port n), read and written
    // whole, and one port switched from a fresh read of the mask; each
    // saying how it ended (see AttributeStatus.h).
    Outcome<uint32_t> portMask();
    AttributeResult setPortMask(uint32_t mask);
    AttributeResult setPort(uint32_t port, bool on);
#endif

    GpioHw gpiohw;

private:
    void swapWith(Brondel &other) noexcept;
    bool openHub(const std::string *serial);
    bool writePortMask(uint32_t mask);
    // The port mask read into portControl: exactly 4 bytes, or over the cache.
    Outcome<uint32_t> readPorts(bool exact);

    Attribute portControl;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
