#include "InputQueue.h"

#include <algorithm>

namespace emu {

void InputQueue::push(const Report &report, Clock::time_point ready) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (dead_)
            return;
        if (pending_.size() >= kCapacity)
            pending_.pop_front();
        // After every report that is ready no later: equal times keep their order.
        auto at =
            std::upper_bound(pending_.begin(), pending_.end(), ready,
                             [](Clock::time_point t, const Pending &p) { return t < p.ready; });
        pending_.insert(at, Pending{ready, report});
    }
    changed_.notify_all();
}

void InputQueue::kill() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dead_ = true;
        pending_.clear();
    }
    changed_.notify_all();
}

bool InputQueue::dead() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dead_;
}

int InputQueue::read(unsigned char *data, size_t length, int timeoutMs) {
    const bool forever = timeoutMs < 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (dead_)
            return -1;
        const Clock::time_point now = Clock::now();
        if (!pending_.empty() && pending_.front().ready <= now) {
            const size_t n = std::min(length, kReportSize);
            std::copy(pending_.front().report.begin(), pending_.front().report.begin() + n, data);
            pending_.pop_front();
            return int(n);
        }
        if (!forever && now >= deadline)
            return 0;
        // Wake when the first waiting report becomes readable or at the
        // deadline, whichever comes first; a push or a kill wakes earlier.
        if (pending_.empty()) {
            if (forever)
                changed_.wait(lock);
            else
                changed_.wait_until(lock, deadline);
        } else {
            const Clock::time_point ready = pending_.front().ready;
            changed_.wait_until(lock, forever ? ready : std::min(ready, deadline));
        }
    }
}

}  // namespace emu
