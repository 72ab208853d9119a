// Helpers shared by the reliability tests: process measurements (resident
// memory, thread count), a monotonic stopwatch, environment-sized loop counts
// and an emulator reset guard.
#ifndef KORVANE_RELIABILITY_SUPPORT_H
#define KORVANE_RELIABILITY_SUPPORT_H

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "korvane_emu.h"

namespace reliability {

// Sanitizer builds keep freed memory in quarantine and grow shadow memory, so
// resident size says nothing about leaks there (LeakSanitizer covers that).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

// Resident set size of this process in bytes (second field of statm).
inline long residentBytes() {
    long pages = 0, resident = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return -1;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
        resident = -1;
    std::fclose(statm);
    return resident < 0 ? -1 : resident * sysconf(_SC_PAGESIZE);
}

// Number of threads of this process (entries of /proc/self/task). The first
// thread a process starts can bring a runtime helper thread along
// (ThreadSanitizer's background thread); one thread started and joined
// before the first count keeps that helper out of every comparison, also in
// a process that runs a single test.
inline int threadCount() {
    static const bool runtimeThreadsStarted = [] {
        long tid = 0;
        std::thread([&tid] { tid = ::syscall(SYS_gettid); }).join();
        // join can return before the kernel has released the thread's task;
        // the count must not take it in.
        const std::string task = "/proc/self/task/" + std::to_string(tid);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (::access(task.c_str(), F_OK) == 0 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        return true;
    }();
    (void)runtimeThreadsStarted;
    DIR *tasks = opendir("/proc/self/task");
    if (tasks == nullptr)
        return -1;
    int count = 0;
    while (dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(tasks);
    return count;
}

// The thread count once it has dropped to expected, or after a bound: a
// joined thread can linger in /proc for a moment after join returns, since
// the kernel wakes the joiner before it has released the task.
inline int threadCountSettledTo(int expected) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    int count = threadCount();
    while (count > expected && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        count = threadCount();
    }
    return count;
}

// A loop count that an environment variable may lower (sanitizer runs) or
// raise (long local runs); unset or unparsable gives the default.
inline long countFromEnv(const char *name, long fallback) {
    const char *text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    return (end != nullptr && *end == '\0' && value > 0) ? value : fallback;
}

class Stopwatch {
public:
    Stopwatch() : start(std::chrono::steady_clock::now()) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    void restart() { start = std::chrono::steady_clock::now(); }

private:
    std::chrono::steady_clock::time_point start;
};

// Empties the emulator on entry and on exit, so a failing test leaves no
// devices or faults behind for the next one.
class EmulatorScope {
public:
    EmulatorScope() { emu_reset(); }
    ~EmulatorScope() { emu_reset(); }
    EmulatorScope(const EmulatorScope &) = delete;
    EmulatorScope &operator=(const EmulatorScope &) = delete;
};

}  // namespace reliability

#endif
