// korPacket: one 65-byte HID report buffer, the element of the receive queue.
#ifndef KORVANE_KORPACKET_H
#define KORVANE_KORPACKET_H

#include <cstdint>

#include "kordefs.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

struct korPacket {
    uint8_t dat[BUF_LEN];
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
