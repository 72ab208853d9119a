// korPacket: one 65-byte HID report buffer, the element of the receive queue.
#ifndef KORVANE_KORPACKET_H
#define KORVANE_KORPACKET_H

#include <cstdint>

#include "kordefs.h"

struct korPacket {
    uint8_t dat[BUF_LEN];
};

#endif
