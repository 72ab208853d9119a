#include "ServiceAnchor.h"

#include "KorService.h"

namespace korvane {

void ServiceAnchor::retire() {
    std::unique_lock<std::mutex> lock(mutex);
    service = nullptr;
    released.wait(lock, [this] { return leases == 0; });
}

ServiceLease::ServiceLease(const std::shared_ptr<ServiceAnchor> &from)
    : anchor(from), held(nullptr) {
    if (anchor == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(anchor->mutex);
    held = anchor->service;
    if (held != nullptr) {
        ++anchor->leases;
    }
}

ServiceLease::~ServiceLease() {
    if (held == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(anchor->mutex);
    if (--anchor->leases == 0) {
        anchor->released.notify_all();
    }
}

KorDevice *ServiceLease::link() const { return held == nullptr ? nullptr : held->link(); }

}  // namespace korvane
