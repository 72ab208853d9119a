#include "Vanta.h"

#include <utility>

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

Vanta::Vanta(Vanta &&other) : Vanta(other.receiveMode()) { swapWith(other); }

// The connection held before is closed with the object it is swapped into.
Vanta &Vanta::operator=(Vanta &&other) {
    if (this != &other) {
        Vanta taken(std::move(other));
        swapWith(taken);
    }
    return *this;
}

void Vanta::swapWith(Vanta &other) noexcept {
    swapConnection(other);
    std::swap(gpiohw, other.gpiohw);
    std::swap(adchw, other.adchw);
    std::swap(i2chw, other.i2chw);
}

bool Vanta::open() { return openByProduct(kProductName, nullptr); }

bool Vanta::open(std::string serial) { return openByProduct(kProductName, &serial); }

}  // namespace korvane
