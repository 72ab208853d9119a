// PollTimer: sleeps the receive thread until the next poll of its 1 ms
// cadence.
//
// On Linux a plain sleep until a point of the monotonic clock wakes within
// about 0.1 ms of it. On Windows a sleep rounds up to the system timer tick,
// 15.6 ms by default, which would cut a 1 ms cadence to 64 polls a second.
// There the timer is a high-resolution waitable timer
// (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 and later); where
// that flag is refused, the timer raises the system timer resolution to 1 ms
// with timeBeginPeriod(1) for its own life and sleeps plainly.
//
// One timer per thread: create it in the thread that sleeps on it.
#ifndef KORVANE_POLLTIMER_H
#define KORVANE_POLLTIMER_H

#include <chrono>

namespace korvane {

class PollTimer {
public:
    // How the timer waits.
    enum class Kind {
        Sleep,                // sleep_until on the steady clock (not Windows)
        HighResolutionTimer,  // Windows: high-resolution waitable timer
        SystemPeriod1ms,      // Windows: timeBeginPeriod(1), then plain sleeps
    };

    PollTimer();
    ~PollTimer();
    PollTimer(const PollTimer &) = delete;
    PollTimer &operator=(const PollTimer &) = delete;

    // Returns once the steady clock has reached deadline (at once when it
    // already has), never before it.
    void sleepUntil(std::chrono::steady_clock::time_point deadline);

    Kind kind() const;

private:
    // Windows: the waitable timer's HANDLE (null without one).
    void *timer;
};

}  // namespace korvane

#endif
