// CallGuard: holds the call lock of a device link (KorDevice::callMutex) for
// the duration of one call, so that calls on one link run one at a time.
#ifndef KORVANE_CALLGUARD_H
#define KORVANE_CALLGUARD_H

#include <mutex>

#include "KorDevice.h"

namespace korvane {

class CallGuard {
public:
    // A null link (an object made without one) has nothing to guard.
    explicit CallGuard(KorDevice *link) {
        if (link != nullptr) {
            first = std::unique_lock<std::recursive_mutex>(link->callMutex());
        }
    }

    // Both links' locks, taken without deadlock whatever order another
    // thread names them in (a copy between two connections).
    CallGuard(KorDevice *one, KorDevice *other) {
        if (one == nullptr || other == nullptr || one == other) {
            KorDevice *link = one != nullptr ? one : other;
            if (link != nullptr) {
                first = std::unique_lock<std::recursive_mutex>(link->callMutex());
            }
            return;
        }
        first = std::unique_lock<std::recursive_mutex>(one->callMutex(), std::defer_lock);
        second = std::unique_lock<std::recursive_mutex>(other->callMutex(), std::defer_lock);
        std::lock(first, second);
    }

private:
    CallGuard(const CallGuard &) = delete;
    CallGuard &operator=(const CallGuard &) = delete;

    std::unique_lock<std::recursive_mutex> first;
    std::unique_lock<std::recursive_mutex> second;
};

}  // namespace korvane

#endif
