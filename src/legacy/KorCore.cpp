#include "KorCore.h"

#include <cstring>
#include <utility>

#include "CallGuard.h"
#include "KorDeviceManager.h"

namespace korvane {

KorCore::KorCore()
    : KorCore(std::unique_ptr<Connection>(new Connection(KorService::Receive::Polling))) {}

KorCore::KorCore(std::unique_ptr<Connection> connection)
    : core(std::move(connection)),
      vendorName(ATT_VENDOR_NAME, 0, 0),
      productName(ATT_PRODUCT_NAME, 0, 0),
      productRevision(ATT_PRODUCT_REVISION, 0, 0),
      productSerial(ATT_PRODUCT_SERIAL, 0, 0),
      firmVersion(ATT_FIRM_VERSION, 0, 0) {}

KorCore::~KorCore() { waitForCalls(); }

void KorCore::waitForCalls() { core->waitForCalls(); }

// Unlike Connection::open, every identity text is read whatever the earlier
// reads gave, each over the leading bytes of the text kept from before (a
// failed read keeps it), and the product name is not checked: a model's
// open takes the device its path names.
bool KorCore::openPath(char const *path) {
    if (path == nullptr) {
        return true;
    }
    CallGuard call(link());
    const Connection::OpenStatus opened = core->openLink(path);
    if (opened == Connection::OpenStatus::Opened) {
        for (Attribute *identity :
             {&vendorName, &productName, &productRevision, &productSerial, &firmVersion}) {
            static_cast<void>(service()->read(*identity));
        }
    }
    KorDevice::reportFailure(opened == Connection::OpenStatus::Unavailable ||
                             opened == Connection::OpenStatus::Busy);
    return opened != Connection::OpenStatus::Opened;
}

bool KorCore::openByProduct(const char *product, const std::string *serial) {
    // The path points into the manager's snapshot, which lives until the
    // open has used it.
    KorDeviceManager attached;
    return openPath(serial == nullptr ? attached.getPathByName(product)
                                      : attached.getPathByNameAndSerial(product, *serial));
}

bool KorCore::close() { return core->close(); }

bool KorCore::isConnected() const { return core->isOpen(); }

// The text ends at its first zero byte or at the value's length, whichever
// comes first: a shorter answer than an earlier one leaves no bytes of the
// earlier text behind it, and a text of 32 bytes without a zero comes back
// whole. The call lock keeps an open in another thread from rewriting the
// text while it is copied.
std::string KorCore::identityText(const Attribute &text) const {
    CallGuard call(link());
    const char *bytes = reinterpret_cast<const char *>(text.rawBytes());
    return std::string(bytes, strnlen(bytes, text.valueLength()));
}
std::string KorCore::getVendorName() const { return identityText(vendorName); }
std::string KorCore::getProductName() const { return identityText(productName); }
std::string KorCore::getProductRevision() const { return identityText(productRevision); }
std::string KorCore::getProductSerial() const { return identityText(productSerial); }
std::string KorCore::getFirmVersion() const { return identityText(firmVersion); }

}  // namespace korvane
