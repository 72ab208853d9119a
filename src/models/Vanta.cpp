#include "Vanta.h"

#include "KorDeviceManager.h"

namespace {
const char kProductName[] = "Vanta";
}

Vanta::Vanta()
    : KorCore(),
      gpiohw(service, ATT_GPIO0_BASE),
      adchw(service, ATT_ADC_BASE),
      i2chw(service, ATT_IC20_BASE) {}

Vanta::~Vanta() {
    if (isConnected()) {
        close();
    }
}

bool Vanta::open() {
    KorDeviceManager attached;
    return openPath(attached.getPathByName(kProductName));
}

bool Vanta::open(std::string serial) {
    KorDeviceManager attached;
    return openPath(attached.getPathByNameAndSerial(kProductName, serial));
}
