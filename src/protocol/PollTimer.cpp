#include "PollTimer.h"

#include <thread>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, whose types it uses.
#include <timeapi.h>

// Older SDK headers lack the flag; its value is fixed by the Windows ABI.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
#endif

namespace korvane {

using std::chrono::steady_clock;

#ifndef _WIN32

PollTimer::PollTimer() : timer(nullptr) {}

PollTimer::~PollTimer() = default;

PollTimer::Kind PollTimer::kind() const { return Kind::Sleep; }

void PollTimer::sleepUntil(steady_clock::time_point deadline) {
    // Sleep until the deadline, again for the remainder if woken early.
    while (steady_clock::now() < deadline) {
        std::this_thread::sleep_until(deadline);
    }
}

#else

PollTimer::PollTimer() : timer(nullptr) {
    timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                   TIMER_MODIFY_STATE | SYNCHRONIZE);
    if (timer == nullptr) {
        // Before Windows 10 1803 the flag is refused (invalid parameter).
        timeBeginPeriod(1);
    }
}

PollTimer::~PollTimer() {
    if (timer != nullptr) {
        CloseHandle(timer);
    } else {
        timeEndPeriod(1);
    }
}

// Without the waitable timer (refused, or failed since), the system period
// is 1 ms.
PollTimer::Kind PollTimer::kind() const {
    return timer != nullptr ? Kind::HighResolutionTimer : Kind::SystemPeriod1ms;
}

void PollTimer::sleepUntil(steady_clock::time_point deadline) {
    for (steady_clock::time_point now = steady_clock::now(); now < deadline;
         now = steady_clock::now()) {
        if (timer != nullptr) {
            // Due time relative to now, in 100 ns units (negative: relative),
            // rounded up so the wake-up is not early.
            const auto left =
                std::chrono::ceil<std::chrono::duration<long long, std::ratio<1, 10000000> > >(
                    deadline - now);
            LARGE_INTEGER due;
            due.QuadPart = -left.count();
            if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) &&
                WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0) {
                continue;
            }
            // The timer failed: sleep plainly from now on, at the 1 ms
            // system resolution.
            CloseHandle(timer);
            timer = nullptr;
            timeBeginPeriod(1);
        }
        std::this_thread::sleep_until(deadline);
    }
}

#endif

}  // namespace korvane
