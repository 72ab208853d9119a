#include "Brondel.h"

#include "BlockIo.h"
#include "CallGuard.h"
#include "Hub.h"
#include "Products.h"

namespace korvane {

Brondel::Brondel()
    : KorCore(std::unique_ptr<Connection>(new Hub(KorService::Receive::Polling))),
      gpiohw(service(), ATT_GPIO0_BASE),
      portControl(ATT_USB_PORT_CTRL, PERMISSION_NONE, 0) {}

Brondel::~Brondel() { waitForCalls(); }

Hub &Brondel::hub() const { return static_cast<Hub &>(connection()); }

bool Brondel::open() { return openHub(nullptr); }

bool Brondel::open(std::string serial) { return openHub(&serial); }

// After opening, the port mask is read into the cache so that single-port
// changes start from the hub's real state; a failed read does not fail the
// open.
bool Brondel::openHub(const std::string *serial) {
    CallGuard call(link());
    if (openByProduct(kor_product::kBrondel, serial)) {
        return true;
    }
    getUsbPortStatus();
    return false;
}

bool Brondel::enableAllUsbPort() { return writePortMask(0xFFFFFFFF); }

bool Brondel::disableAllUsbPort() { return writePortMask(0); }

bool Brondel::enableUsbPort(uint32_t port) { return switchPort(port, true); }

bool Brondel::disableUsbPort(uint32_t port) { return switchPort(port, false); }

// Single-port changes start from the cached mask, not from a fresh read
// (Hub::portOn reads it).
bool Brondel::switchPort(uint32_t port, bool on) {
    if (port < 1 || port > 32) {
        return true;
    }
    CallGuard call(link());
    return writePortMask(block_io::withBit(portControl.getValueUint32(), port - 1, on));
}

// Reads into the cache that single-port changes start from; a value of any
// length lands over the cached mask's leading bytes.
uint32_t Brondel::getUsbPortStatus() {
    CallGuard call(link());
    return service()->read(portControl).ok() ? 0 : 1;
}

// The cache takes the mask before the write, whether or not it succeeds.
bool Brondel::writePortMask(uint32_t mask) {
    CallGuard call(link());
    portControl.setValue(mask);
    return !hub().setPortMask(mask).ok();
}

}  // namespace korvane
