// The input reports waiting on one open handle, in the order they become
// readable. A report is readable from its ready time on (answers of a device
// set to answer late carry a later time). Bounded like a kernel buffer: the
// oldest report goes when a new one would exceed the capacity.
#ifndef KORVANE_EMU_INPUT_QUEUE_H
#define KORVANE_EMU_INPUT_QUEUE_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "Protocol.h"

namespace emu {

class InputQueue {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t kCapacity = 1024;

    void push(const Report &report, Clock::time_point ready);
    // Marks the queue dead (device gone) and wakes every waiting reader.
    void kill();
    bool dead() const;

    // Copies min(length, 64) bytes of the next readable report into data.
    // timeoutMs < 0 waits without limit, 0 not at all. Returns the byte
    // count, 0 when nothing became readable in time, -1 once dead.
    int read(unsigned char *data, size_t length, int timeoutMs);

private:
    struct Pending {
        Clock::time_point ready;
        Report report;
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Pending> pending;
    bool killed = false;
};

}  // namespace emu

#endif
