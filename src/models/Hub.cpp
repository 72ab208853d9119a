#include "Hub.h"

#include <utility>

#include "BlockIo.h"
#include "CallGuard.h"
#include "Products.h"

namespace korvane {

namespace {
const uint8_t kMaskBytes = 4;

bool isPort(int port) { return port >= 1 && port <= 32; }
}  // namespace

Hub::Hub(KorService::Receive receive)
    : Connection(receive, kor_product::kBrondel), gpio(service(), ATT_GPIO0_BASE) {}

Hub::~Hub() { waitForCalls(); }

Hub::Hub(Hub &&other) : Hub(other.receiveMode()) { swapWith(other); }

Hub &Hub::operator=(Hub &&other) {
    if (this != &other) {
        Hub taken(std::move(other));
        swapWith(taken);
    }
    return *this;
}

void Hub::swapWith(Hub &other) noexcept {
    swapConnection(other);
    std::swap(gpio, other.gpio);
}

// Single transactions, which take the call lock themselves.
Outcome<uint32_t> Hub::portMask() {
    return block_io::readUint(service(), ATT_USB_PORT_CTRL, kMaskBytes);
}

AttributeResult Hub::setPortMask(uint32_t mask) {
    return block_io::writeUint(service(), ATT_USB_PORT_CTRL, mask, kMaskBytes);
}

AttributeResult Hub::portOn(int port) { return switchPort(port, true); }

AttributeResult Hub::portOff(int port) { return switchPort(port, false); }

// The mask is read and written back under one call lock, so another
// thread's switch of another port is not lost in between.
AttributeResult Hub::switchPort(int port, bool on) {
    if (!isPort(port)) {
        return block_io::badArgument();
    }
    CallGuard call(link());
    const Outcome<uint32_t> mask = portMask();
    if (!mask.ok()) {
        return mask.result;
    }
    return setPortMask(block_io::withBit(mask.value(), static_cast<unsigned>(port - 1), on));
}

Outcome<bool> Hub::isPortOn(int port) {
    if (!isPort(port)) {
        return Outcome<bool>::failed(block_io::badArgument());
    }
    const Outcome<uint32_t> mask = portMask();
    return Outcome<bool>{mask.result, mask.ok() && ((mask.value() >> (port - 1)) & 1u) != 0};
}

}  // namespace korvane
