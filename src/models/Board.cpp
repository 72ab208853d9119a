#include "Board.h"

#include <utility>

#include "Products.h"

namespace korvane {

Board::Board(KorService::Receive receive)
    : Connection(receive, kor_product::kVanta),
      gpio(service(), ATT_GPIO0_BASE),
      adc(service(), ATT_ADC_BASE),
      i2c(service(), ATT_IC20_BASE) {}

Board::~Board() { waitForCalls(); }

Board::Board(Board &&other) : Board(other.receiveMode()) { swapWith(other); }

// The connection held before is closed with the object it is swapped into.
Board &Board::operator=(Board &&other) {
    if (this != &other) {
        Board taken(std::move(other));
        swapWith(taken);
    }
    return *this;
}

void Board::swapWith(Board &other) noexcept {
    swapConnection(other);
    std::swap(gpio, other.gpio);
    std::swap(adc, other.adc);
    std::swap(i2c, other.i2c);
}

}  // namespace korvane
