// Attribute: an attribute value with its 16-bit id and two descriptor bytes.
#ifndef KORVANE_ATTRIBUTE_H
#define KORVANE_ATTRIBUTE_H

#include <cstdint>

#include "Attvalue.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

class KORVANE_API Attribute : public Attvalue {
public:
    Attribute(uint16_t attid, uint8_t permission, uint8_t property);
    uint16_t getAttid();

private:
    uint16_t attid;
    uint8_t permission;  // stored only
    uint8_t property;    // stored only
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
