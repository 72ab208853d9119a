#include "Vanta.h"

#include "Products.h"

namespace korvane {

namespace {
const char *const kProductName = kor_product::kVanta;
}

Vanta::Vanta() : Vanta(KorService::Receive::Polling) {}

Vanta::Vanta(KorService::Receive receive)
    : KorCore(receive),
      gpiohw(service.get(), ATT_GPIO0_BASE),
      adchw(service.get(), ATT_ADC_BASE),
      i2chw(service.get(), ATT_IC20_BASE) {
    product = kProductName;
}

Vanta::~Vanta() { waitForCalls(); }

bool Vanta::open() { return openByProduct(kProductName, nullptr); }

bool Vanta::open(std::string serial) { return openByProduct(kProductName, &serial); }

}  // namespace korvane
