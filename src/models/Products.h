// The product strings of the supported models, as the devices report them
// (USB product string and identity attribute ATT_PRODUCT_NAME): the one
// definition for the models, which open a device by them and refuse one whose
// product name reads otherwise, for the Python package (pykorvane._core) and
// for the emulator's firmware models. A header of its own, depending on
// nothing, so that the emulator can include it alone.
#ifndef KORVANE_PRODUCTS_H
#define KORVANE_PRODUCTS_H

namespace korvane {
namespace kor_product {
// The I/O board.
inline constexpr char kVanta[] = "Vanta";
// The switchable hub.
inline constexpr char kBrondel[] = "Brondel HUB";
// The meter.
inline constexpr char kDmm[] = "DMM";
// Every supported model, in this order.
inline constexpr const char *kAll[] = {kVanta, kBrondel, kDmm};
}  // namespace kor_product
}  // namespace korvane

#endif
