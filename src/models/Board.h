// Board: the I/O board's connection (GPIO, ADC and I2C bridge on one link).
#ifndef KORVANE_BOARD_H
#define KORVANE_BOARD_H

#include "AdcInputs.h"
#include "Connection.h"
#include "Gpio.h"
#include "I2c.h"
#include "export.h"

namespace korvane {

class KORVANE_API Board : public Connection {
public:
    explicit Board(KorService::Receive receive = KorService::Receive::Waiting);
    ~Board() override;
    // Movable, not copyable: the object moved to takes the connection, the
    // one moved from is left closed (see Connection::swapConnection).
    Board(Board &&other);
    Board &operator=(Board &&other);

    Gpio gpio;
    AdcInputs adc;
    I2c i2c;

private:
    void swapWith(Board &other) noexcept;
};

}  // namespace korvane

#endif
