#include "Vanta.h"

#include "Products.h"

namespace korvane {

Vanta::Vanta()
    : gpiohw(service(), ATT_GPIO0_BASE),
      adchw(service(), ATT_ADC_BASE),
      i2chw(service(), ATT_IC20_BASE) {}

Vanta::~Vanta() { waitForCalls(); }

bool Vanta::open() { return openByProduct(kor_product::kVanta, nullptr); }

bool Vanta::open(std::string serial) { return openByProduct(kor_product::kVanta, &serial); }

}  // namespace korvane
