// Hub: the switchable USB hub's connection (port power switching plus GPIO).
#ifndef KORVANE_HUB_H
#define KORVANE_HUB_H

#include <cstdint>

#include "Connection.h"
#include "Gpio.h"
#include "export.h"

namespace korvane {

class KORVANE_API Hub : public Connection {
public:
    explicit Hub(KorService::Receive receive = KorService::Receive::Waiting);
    ~Hub() override;
    // Movable, not copyable (see Board).
    Hub(Hub &&other);
    Hub &operator=(Hub &&other);

    // The whole port mask (bit n - 1 for port n), read and written whole,
    // and one port (1-32) switched or asked about from a fresh read of the
    // mask; each saying how it ended (see AttributeStatus.h).
    Outcome<uint32_t> portMask();
    AttributeResult setPortMask(uint32_t mask);
    AttributeResult portOn(int port);
    AttributeResult portOff(int port);
    Outcome<bool> isPortOn(int port);

    Gpio gpio;

private:
    void swapWith(Hub &other) noexcept;
    AttributeResult switchPort(int port, bool on);
};

}  // namespace korvane

#endif
