#include "Attribute.h"

namespace korvane {

Attribute::Attribute(uint16_t attid, uint8_t permission, uint8_t property)
    : Attvalue(), attid(attid), permission(permission), property(property) {}

uint16_t Attribute::getAttid() { return attid; }

}  // namespace korvane
