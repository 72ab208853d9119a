#include "KorCore.h"

#include <memory>

#include "KorDeviceManager.h"

KorCore::KorCore()
    : device(nullptr),
      service(nullptr),
      vendorName(ATT_VENDOR_NAME, 0, 0),
      productName(ATT_PRODUCT_NAME, 0, 0),
      productRevision(ATT_PRODUCT_REVISION, 0, 0),
      productSerial(ATT_PRODUCT_SERIAL, 0, 0),
      firmVersion(ATT_FIRM_VERSION, 0, 0) {
    // The link is released again if the service's thread cannot start.
    std::unique_ptr<KorDevice> link(new KorDevice());
    service = new KorService(link.get());
    device = link.release();
}

KorCore::~KorCore() {
    // The service's receive thread reads through the link: stop it first.
    delete service;
    delete device;
}

bool KorCore::openPath(char const *path) {
    if (device->isOpen() || path == nullptr) {
        return true;
    }
    if (device->open(path)) {
        return true;
    }
    // A failed read keeps the value of an earlier open (or the empty text).
    for (Attribute *identity :
         {&vendorName, &productName, &productRevision, &productSerial, &firmVersion}) {
        service->readAttribute(identity);
    }
    return false;
}

bool KorCore::openByProduct(const char *product, const std::string *serial) {
    // The path points into the manager's snapshot, which lives until the
    // open has used it.
    KorDeviceManager attached;
    return openPath(serial == nullptr ? attached.getPathByName(product)
                                      : attached.getPathByNameAndSerial(product, *serial));
}

bool KorCore::close() { return device->close(); }

bool KorCore::isConnected() { return device != nullptr && device->isOpen(); }

// getValueStr bounds the text at 32 bytes, so an identity text sent without
// a terminating zero comes back whole.
std::string KorCore::getVendorName() { return vendorName.getValueStr(); }
std::string KorCore::getProductName() { return productName.getValueStr(); }
std::string KorCore::getProductRevision() { return productRevision.getValueStr(); }
std::string KorCore::getProductSerial() { return productSerial.getValueStr(); }
std::string KorCore::getFirmVersion() { return firmVersion.getValueStr(); }
