// ServiceAnchor: how blocks refer to the attribute service they talk
// through without ever reaching a destroyed one.
//
// A service owns one anchor, shared with every block made on it and with
// every copy of those blocks. A block takes a ServiceLease for each call;
// while a lease is held the service is not destroyed (its destructor waits
// for the leases to end), and once the service is gone new leases come back
// empty, so the block's calls fail as on a closed device. No lock is held
// between lease and release, so leases nest freely (a scan made of probes)
// and never order against the connection's call lock.
#ifndef KORVANE_SERVICEANCHOR_H
#define KORVANE_SERVICEANCHOR_H

#include <condition_variable>
#include <memory>
#include <mutex>

#include "export.h"

namespace korvane {

class KorService;
class KorDevice;

class ServiceAnchor {
public:
    explicit ServiceAnchor(KorService *service) : service(service) {}
    // Called by the service's destructor: later leases are empty, and this
    // waits until the leases taken before have ended.
    void retire();

private:
    friend class ServiceLease;
    ServiceAnchor(const ServiceAnchor &) = delete;
    ServiceAnchor &operator=(const ServiceAnchor &) = delete;

    std::mutex mutex;
    std::condition_variable released;
    KorService *service;  // null once retired; guarded by mutex
    unsigned leases = 0;  // guarded by mutex
};

// Exported, though its header is the library's own: the Python module's
// block members take leases.
class KORVANE_API ServiceLease {
public:
    // An empty lease for a null anchor or a retired service.
    explicit ServiceLease(const std::shared_ptr<ServiceAnchor> &anchor);
    ~ServiceLease();
    KorService *service() const { return held; }
    // The service's link (null for an empty lease): its call lock guards
    // the caller's operation.
    KorDevice *link() const;

private:
    ServiceLease(const ServiceLease &) = delete;
    ServiceLease &operator=(const ServiceLease &) = delete;

    // Shared, so that the anchor outlives the lease even when the block it
    // came from is given another one meanwhile.
    std::shared_ptr<ServiceAnchor> anchor;
    KorService *held;
};

}  // namespace korvane

#endif
