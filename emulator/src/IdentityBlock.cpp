#include "IdentityBlock.h"

namespace emu {

namespace {
Bytes zeroTerminated(const std::string &text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return b;
}
}  // namespace

IdentityBlock::IdentityBlock(const std::string &product, const std::string &serial)
    : AttributeBlock(0, 5),
      texts_{zeroTerminated("Korvane"), zeroTerminated(product), zeroTerminated("A1"),
             zeroTerminated(serial), zeroTerminated("1.0.0")} {}

bool IdentityBlock::read(uint16_t attid, Bytes &out) {
    out = texts_[offset(attid)];
    return true;
}

bool IdentityBlock::set(uint16_t attid, const Bytes &value) {
    texts_[offset(attid)] = value;
    return true;
}

}  // namespace emu
