#include "AdcHw.h"

namespace korvane {

AdcHw::AdcHw(KorService *service, int base) : adc(service, base) {}

AdcHw::~AdcHw() = default;

uint32_t AdcHw::analogRead(uint8_t channel) { return adc.read(channel).valueOr(0xFFFFFFFF); }

}  // namespace korvane
