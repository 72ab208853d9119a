// Waiting until another thread of this process is blocked, as the kernel
// sees it. A test that must show that a call waits (a push into a full
// queue, a blocking read) starts the call on a helper thread and waits for
// this event before it acts, instead of sleeping for a guessed time.
#ifndef KORVANE_TESTS_THREAD_STATE_H
#define KORVANE_TESTS_THREAD_STATE_H

#include <sys/types.h>
#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace thread_state {

#if defined(__linux__)
inline pid_t currentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// True while the thread sleeps in a futex wait (condition variables and
// contended mutexes end there): the syscall it is in, from
// /proc/self/task/<tid>/syscall, or failing that its wait channel.
inline bool inFutexWait(pid_t tid) {
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    std::ifstream syscallFile(task + "/syscall");
    long number = -1;
    if (syscallFile >> number)
        return number == SYS_futex;
    std::ifstream wchanFile(task + "/wchan");
    std::string channel;
    return static_cast<bool>(wchanFile >> channel) && channel.find("futex") != std::string::npos;
}
#else
// Elsewhere (Windows) no file shows another thread's kernel state: a thread
// that has published its id counts as blocked after a short pause, in which
// it most likely reached its wait. Acting before the wait began never fails
// a caller wrongly (see awaitFutexWait).
inline pid_t currentThreadId() { return 1; }

inline bool inFutexWait(pid_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
}
#endif

// Waits until the thread whose id is published in tid (0 until the thread
// has started) is blocked in a futex wait; bounded. False when the bound
// passed first. A blocked state seen too early only makes the caller act
// before the wait began, never wrongly fail it.
inline bool awaitFutexWait(const std::atomic<pid_t> &tid,
                           std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto giveUp = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < giveUp) {
        const pid_t id = tid.load();
        if (id != 0 && inFutexWait(id))
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

}  // namespace thread_state

#endif
