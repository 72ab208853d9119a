// Vanta: the korvane module's I/O board: GPIO, ADC and I2C bridge on one
// connection.
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
    ~Vanta();
    // Opens the first attached board, or the one with this serial number.
    bool open();
    bool open(std::string serial);

    GpioHw gpiohw;
    AdcHw adchw;
    I2cHw i2chw;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
