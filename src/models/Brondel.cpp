#include "Brondel.h"

#include <utility>

#include "BlockIo.h"
#include "Products.h"

namespace korvane {

namespace {
const char *const kProductName = kor_product::kBrondel;
const uint32_t kFirstPort = 1;
const uint32_t kLastPort = 32;
const uint8_t kMaskBytes = 4;

bool isPort(uint32_t port) { return port >= kFirstPort && port <= kLastPort; }
}  // namespace

Brondel::Brondel() : Brondel(KorService::Receive::Polling) {}

Brondel::Brondel(KorService::Receive receive)
    : KorCore(receive),
      gpiohw(service.get(), ATT_GPIO0_BASE),
      portControl(ATT_USB_PORT_CTRL, PERMISSION_NONE, 0) {
    product = kProductName;
}

Brondel::~Brondel() { waitForCalls(); }

Brondel::Brondel(Brondel &&other) : Brondel(other.receiveMode()) { swapWith(other); }

// The connection held before is closed with the object it is swapped into.
Brondel &Brondel::operator=(Brondel &&other) {
    if (this != &other) {
        Brondel taken(std::move(other));
        swapWith(taken);
    }
    return *this;
}

void Brondel::swapWith(Brondel &other) noexcept {
    swapConnection(other);
    std::swap(gpiohw, other.gpiohw);
    std::swap(portControl, other.portControl);
}

bool Brondel::open() { return openHub(nullptr); }

bool Brondel::open(std::string serial) { return openHub(&serial); }

// After opening, the port mask is read into the cache so that single-port
// changes start from the hub's real state; a failed read does not fail the
// open.
bool Brondel::openHub(const std::string *serial) {
    CallGuard call(link());
    if (openByProduct(kProductName, serial)) {
        return true;
    }
    getUsbPortStatus();
    return false;
}

bool Brondel::enableAllUsbPort() { return writePortMask(0xFFFFFFFF); }

bool Brondel::disableAllUsbPort() { return writePortMask(0); }

// Single-port changes start from the cached mask, not from a fresh read.
bool Brondel::enableUsbPort(uint32_t port) {
    if (!isPort(port)) {
        return true;
    }
    CallGuard call(link());
    return writePortMask(block_io::withBit(portControl.getValueUint32(), port - 1, true));
}

bool Brondel::disableUsbPort(uint32_t port) {
    if (!isPort(port)) {
        return true;
    }
    CallGuard call(link());
    return writePortMask(block_io::withBit(portControl.getValueUint32(), port - 1, false));
}

// Reads into the cache that single-port changes start from; a value of any
// length lands over the cached mask's leading bytes.
uint32_t Brondel::getUsbPortStatus() { return readPorts(false).ok() ? 0 : 1; }

bool Brondel::writePortMask(uint32_t mask) { return !setPortMask(mask).ok(); }

Outcome<uint32_t> Brondel::portMask() { return readPorts(true); }

Outcome<uint32_t> Brondel::readPorts(bool exact) {
    CallGuard call(link());
    const AttributeResult done =
        block_io::readStatus(service.get(), portControl, kMaskBytes,
                             exact ? block_io::Fill::Exact : block_io::Fill::OverCache);
    return done.ok() ? Outcome<uint32_t>{done, portControl.getValueUint32()}
                     : Outcome<uint32_t>::failed(done);
}

// The cache takes the mask before the write, whether or not it succeeds.
AttributeResult Brondel::setPortMask(uint32_t mask) {
    CallGuard call(link());
    portControl.setValue(mask);
    return block_io::writeStatus(service.get(), portControl);
}

AttributeResult Brondel::setPort(uint32_t port, bool on) {
    if (!isPort(port)) {
        return block_io::badArgument();
    }
    CallGuard call(link());
    const Outcome<uint32_t> mask = portMask();
    if (!mask.ok()) {
        return mask.result;
    }
    return setPortMask(block_io::withBit(mask.value(), port - 1, on));
}

}  // namespace korvane
