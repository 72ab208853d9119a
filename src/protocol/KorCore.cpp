#include "KorCore.h"

#include <cstring>
#include <utility>

#include "CallGuard.h"
#include "DeviceClaim.h"
#include "KorDeviceManager.h"

namespace korvane {

KorCore::KorCore() : KorCore(KorService::Receive::Polling) {}

KorCore::KorCore(KorService::Receive receive)
    : device(new KorDevice()),
      service(new KorService(device.get(), receive)),
      vendorName(ATT_VENDOR_NAME, 0, 0),
      productName(ATT_PRODUCT_NAME, 0, 0),
      productRevision(ATT_PRODUCT_REVISION, 0, 0),
      productSerial(ATT_PRODUCT_SERIAL, 0, 0),
      firmVersion(ATT_FIRM_VERSION, 0, 0),
      receive(receive) {}

void KorCore::swapConnection(KorCore &other) noexcept {
    std::swap(device, other.device);
    std::swap(claim, other.claim);
    std::swap(service, other.service);
    std::swap(vendorName, other.vendorName);
    std::swap(productName, other.productName);
    std::swap(productRevision, other.productRevision);
    std::swap(productSerial, other.productSerial);
    std::swap(firmVersion, other.firmVersion);
    std::swap(receive, other.receive);
}

KorCore::~KorCore() { waitForCalls(); }

// A call waiting on the device's answer gives up at once rather than making
// the destruction wait out the wait bound.
void KorCore::waitForCalls() {
    service->beginClose();
    CallGuard call(device.get());
}

bool KorCore::openPath(char const *path) {
    if (path == nullptr) {
        return true;
    }
    const OpenStatus opened = connect(path, false);
    KorDevice::reportFailure(opened == OpenStatus::Unavailable || opened == OpenStatus::Busy);
    return opened != OpenStatus::Opened;
}

KorCore::OpenStatus KorCore::connect(const std::string &path, bool strict) {
    CallGuard call(device.get());
    if (device->isOpen()) {
        return OpenStatus::AlreadyOpen;
    }
    // This connection's own earlier claim (its link since gone) goes first,
    // so that its node lock does not stand in the way of the new one.
    claim.reset();
    if (device->openSilently(path.c_str())) {
        return OpenStatus::Unavailable;
    }
    // The claim is taken once the link is open, so a claim always names an
    // open (or since gone) link; a refused claim closes the link again.
    claim = DeviceClaim::take(path, device.get());
    if (!claim) {
        device->close();
        return OpenStatus::Busy;
    }
    // A failed read keeps the value of an earlier open (or the empty text).
    // After one read that got no answer, the others would only wait out the
    // bound each (about 5 s in all) when the caller asked not to.
    AttributeStatus named = AttributeStatus::NoAnswer;
    for (Attribute *identity :
         {&vendorName, &productName, &productRevision, &productSerial, &firmVersion}) {
        const AttributeStatus read = service->read(*identity).status;
        if (identity == &productName) {
            named = read;
        }
        if (read == AttributeStatus::NoAnswer && strict) {
            break;
        }
    }
    // A model on another model's device would send it requests it does not
    // serve; a device whose name cannot be read is given the benefit of the
    // doubt, as the legacy open does.
    if (strict && product != nullptr && named == AttributeStatus::Ok &&
        identityText(productName) != product) {
        claim.reset();
        device->close();
        return OpenStatus::OtherProduct;
    }
    return OpenStatus::Opened;
}

Outcome<std::string> KorCore::identity(int attid) {
    Attribute *text = identityAttribute(attid);
    if (text == nullptr) {
        return Outcome<std::string>::failed(AttributeResult{AttributeStatus::BadArgument, 0});
    }
    CallGuard call(device.get());
    // A text of at least one byte (its terminating zero is optional), made
    // of this answer's bytes alone.
    const Outcome<AnswerValue> got = service->readValue(static_cast<uint16_t>(attid), 1, VALUE_LEN);
    if (!got.ok()) {
        return Outcome<std::string>::failed(got.result);
    }
    AnswerValue value = got.value();
    text->setValue(value.bytes.data(), value.length);
    return Outcome<std::string>{got.result, value.text()};
}

Attribute *KorCore::identityAttribute(int attid) {
    switch (attid) {
        case ATT_VENDOR_NAME: return &vendorName;
        case ATT_PRODUCT_NAME: return &productName;
        case ATT_PRODUCT_REVISION: return &productRevision;
        case ATT_PRODUCT_SERIAL: return &productSerial;
        case ATT_FIRM_VERSION: return &firmVersion;
        default: return nullptr;
    }
}

bool KorCore::openByProduct(const char *product, const std::string *serial) {
    // The path points into the manager's snapshot, which lives until the
    // open has used it.
    KorDeviceManager attached;
    return openPath(serial == nullptr ? attached.getPathByName(product)
                                      : attached.getPathByNameAndSerial(product, *serial));
}

// A call of another thread waiting on the device's answer gives up at once,
// so the close need not wait out the wait bound.
bool KorCore::close() {
    service->beginClose();
    CallGuard call(device.get());
    claim.reset();
    const bool closed = device->close();
    service->endClose();
    return closed;
}

bool KorCore::isConnected() const {
    service->checkLink();
    return device->isOpen();
}

// The text ends at its first zero byte or at the value's length, whichever
// comes first: a shorter answer than an earlier one leaves no bytes of the
// earlier text behind it, and a text of 32 bytes without a zero comes back
// whole. The call lock keeps an open in another thread from rewriting the
// text while it is copied.
std::string KorCore::identityText(const Attribute &text) const {
    CallGuard call(device.get());
    const char *bytes = reinterpret_cast<const char *>(text.rawBytes());
    return std::string(bytes, strnlen(bytes, text.valueLength()));
}
std::string KorCore::getVendorName() const { return identityText(vendorName); }
std::string KorCore::getProductName() const { return identityText(productName); }
std::string KorCore::getProductRevision() const { return identityText(productRevision); }
std::string KorCore::getProductSerial() const { return identityText(productSerial); }
std::string KorCore::getFirmVersion() const { return identityText(firmVersion); }

}  // namespace korvane
