// Vanta: the I/O board (GPIO, ADC and I2C bridge on one connection).
#ifndef KORVANE_VANTA_H
#define KORVANE_VANTA_H

#include <string>

#include "AdcHw.h"
#include "GpioHw.h"
#include "I2cHw.h"
#include "KorCore.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

class KORVANE_API Vanta : public KorCore {
public:
    Vanta();
#ifndef SWIG
    // receive: see KorCore(KorService::Receive).
    explicit Vanta(KorService::Receive receive);
#endif
    ~Vanta();
#ifndef SWIG
    // Movable, not copyable: the object moved to takes the connection, the
    // one moved from is left closed (see KorCore::swapConnection). Pin and
    // channel handles and pointers to the blocks stay with their object.
    Vanta(Vanta &&other);
    Vanta &operator=(Vanta &&other);
#endif
    // Opens the first attached board, or the one with this serial number.
    bool open();
    bool open(std::string serial);

    GpioHw gpiohw;
    AdcHw adchw;
    I2cHw i2chw;

private:
    void swapWith(Vanta &other) noexcept;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
