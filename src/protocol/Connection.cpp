#include "Connection.h"

#include <utility>

#include "CallGuard.h"
#include "DeviceClaim.h"

namespace korvane {

Connection::Connection(KorService::Receive receive, const char *product)
    : device(new KorDevice()),
      attributes(new KorService(device.get(), receive)),
      receive(receive),
      product(product) {}

Connection::~Connection() { waitForCalls(); }

void Connection::swapConnection(Connection &other) noexcept {
    std::swap(device, other.device);
    std::swap(claim, other.claim);
    std::swap(attributes, other.attributes);
    std::swap(receive, other.receive);
    std::swap(product, other.product);
}

// A call waiting on the device's answer gives up at once rather than making
// the destruction wait out the wait bound.
void Connection::waitForCalls() {
    attributes->beginClose();
    CallGuard call(device.get());
}

Connection::OpenStatus Connection::openLink(const std::string &path) {
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
    return OpenStatus::Opened;
}

Connection::OpenStatus Connection::open(const std::string &path) {
    CallGuard call(device.get());
    const OpenStatus linked = openLink(path);
    if (linked != OpenStatus::Opened) {
        return linked;
    }
    Outcome<std::string> named = Outcome<std::string>::failed({AttributeStatus::NoAnswer, 0});
    for (int attid : {ATT_VENDOR_NAME, ATT_PRODUCT_NAME, ATT_PRODUCT_REVISION, ATT_PRODUCT_SERIAL,
                      ATT_FIRM_VERSION}) {
        Outcome<std::string> read = identity(attid);
        const bool silent = read.status() == AttributeStatus::NoAnswer;
        if (attid == ATT_PRODUCT_NAME) {
            named = std::move(read);
        }
        if (silent) {
            break;
        }
    }
    // A model on another model's device would send it requests it does not
    // serve; a device whose name cannot be read is given the benefit of the
    // doubt.
    if (product != nullptr && named.ok() && named.value() != product) {
        claim.reset();
        device->close();
        return OpenStatus::OtherProduct;
    }
    return OpenStatus::Opened;
}

Outcome<std::string> Connection::identity(int attid) {
    if (attid < ATT_VENDOR_NAME || attid > ATT_FIRM_VERSION) {
        return Outcome<std::string>::failed(AttributeResult{AttributeStatus::BadArgument, 0});
    }
    CallGuard call(device.get());
    // A text of at least one byte (its terminating zero is optional), made
    // of this answer's bytes alone.
    const Outcome<AnswerValue> got =
        attributes->readValue(static_cast<uint16_t>(attid), 1, VALUE_LEN);
    return got.ok() ? Outcome<std::string>{got.result, got.value().text()}
                    : Outcome<std::string>::failed(got.result);
}

// A call of another thread waiting on the device's answer gives up at once,
// so the close need not wait out the wait bound.
bool Connection::close() {
    attributes->beginClose();
    CallGuard call(device.get());
    claim.reset();
    const bool closed = device->close();
    attributes->endClose();
    return closed;
}

bool Connection::isOpen() const {
    attributes->checkLink();
    return device->isOpen();
}

}  // namespace korvane
