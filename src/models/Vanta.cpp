#include "Vanta.h"

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

bool Vanta::open() { return openByProduct(kProductName, nullptr); }

bool Vanta::open(std::string serial) { return openByProduct(kProductName, &serial); }
