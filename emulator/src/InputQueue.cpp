#include "InputQueue.h"

#include <algorithm>

namespace emu {

void InputQueue::push(const Report &report, Clock::time_point ready) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (killed) {
            return;
        }
        if (pending.size() >= kCapacity) {
            pending.pop_front();
        }
        // After every report that is ready no later: equal times keep their order.
        auto at =
            std::upper_bound(pending.begin(), pending.end(), ready,
                             [](Clock::time_point t, const Pending &p) { return t < p.ready; });
        pending.insert(at, Pending{ready, report});
    }
    changed.notify_all();
}

void InputQueue::kill() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        killed = true;
        pending.clear();
    }
    changed.notify_all();
}

bool InputQueue::dead() const {
    std::lock_guard<std::mutex> lock(mutex);
    return killed;
}

int InputQueue::read(unsigned char *data, size_t length, int timeoutMs) {
    const bool forever = timeoutMs < 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (killed) {
            return -1;
        }
        const Clock::time_point now = Clock::now();
        if (!pending.empty() && pending.front().ready <= now) {
            const size_t n = std::min(length, kReportSize);
            std::copy(pending.front().report.begin(), pending.front().report.begin() + n, data);
            pending.pop_front();
            return int(n);
        }
        if (!forever && now >= deadline) {
            return 0;
        }
        // Wake when the first waiting report becomes readable or at the
        // deadline, whichever comes first; a push or a kill wakes earlier.
        if (pending.empty()) {
            if (forever) {
                changed.wait(lock);
            } else {
                changed.wait_until(lock, deadline);
            }
        } else {
            const Clock::time_point ready = pending.front().ready;
            changed.wait_until(lock, forever ? ready : std::min(ready, deadline));
        }
    }
}

}  // namespace emu
