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

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
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
#else
// Elsewhere (Windows) no file shows another thread's kernel state, so no
// test can tell that a thread is blocked; EXPECT_BLOCKED says so instead.
inline pid_t currentThreadId() { return 1; }

// Waits (bounded) until the thread has published its id, then pauses
// briefly, in which it most likely reached its wait. Acting before the wait
// began never fails a caller wrongly.
inline void pauseForWait(const std::atomic<pid_t> &tid) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (tid.load() == 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}
#endif

}  // namespace thread_state

// Expects the thread whose id is published in tid to block (see
// awaitFutexWait) before the test goes on. Where that cannot be seen, the
// check is skipped, said so in the output and recorded as a test property,
// after a pause; the rest of the test still runs.
#if defined(__linux__)
#define EXPECT_BLOCKED(tid) \
    EXPECT_TRUE(::thread_state::awaitFutexWait(tid)) << "the thread never blocked"
#else
#define EXPECT_BLOCKED(tid)                                                                     \
    do {                                                                                        \
        ::thread_state::pauseForWait(tid);                                                      \
        std::printf("not checked here: that the thread blocked (%s:%d)\n", __FILE__, __LINE__); \
        ::testing::Test::RecordProperty("blocked_unchecked", __LINE__);                         \
    } while (false)
#endif

#endif
