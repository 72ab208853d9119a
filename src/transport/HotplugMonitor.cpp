#include "HotplugMonitor.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#ifdef KORVANE_HAVE_LIBUDEV
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#endif

namespace korvane {

namespace {

using Milliseconds = std::chrono::milliseconds;

bool sameRecord(const AttachedDevice &a, const AttachedDevice &b) {
    return a.path == b.path && a.product == b.product && a.serial == b.serial &&
           a.manufacturer == b.manufacturer && a.release == b.release &&
           a.interfaceNumber == b.interfaceNumber;
}

// The records of `from` that `other` has no equal of, matched one to one (an
// enumeration may list equal records twice), in the order of `from`.
std::vector<AttachedDevice> missingFrom(const std::vector<AttachedDevice> &from,
                                        const std::vector<AttachedDevice> &other) {
    std::vector<bool> taken(other.size(), false);
    std::vector<AttachedDevice> missing;
    for (const AttachedDevice &record : from) {
        bool found = false;
        for (size_t i = 0; i < other.size() && !found; ++i) {
            if (!taken[i] && sameRecord(record, other[i])) {
                taken[i] = found = true;
            }
        }
        if (!found) {
            missing.push_back(record);
        }
    }
    return missing;
}

Milliseconds bounded(int timeoutMs) { return Milliseconds(std::max(timeoutMs, 0)); }

}  // namespace

struct HotplugMonitor::State {
    explicit State(int periodMs) : period(std::max(periodMs, 1)) {}
    ~State() { closeUdev(); }

    const Milliseconds period;

    mutable std::mutex mutex;
    // Signalled when events are queued and when the monitor stops; the
    // worker waits on it too where there is no udev monitor.
    std::condition_variable changed;
    std::deque<HotplugEvent> events;
    std::vector<AttachedDevice> snapshot;
    bool stopping = false;

    std::mutex joining;  // one stop() joins the worker
    std::thread worker;

    // Enumerates, queues the differences from the previous snapshot and
    // keeps the new list as the snapshot.
    void look() {
        std::vector<AttachedDevice> now = listAttachedDevices();
        std::lock_guard<std::mutex> lock(mutex);
        const size_t before = events.size();
        for (AttachedDevice &gone : missingFrom(snapshot, now)) {
            events.push_back(HotplugEvent{HotplugEvent::Kind::Removed, std::move(gone)});
        }
        for (AttachedDevice &come : missingFrom(now, snapshot)) {
            events.push_back(HotplugEvent{HotplugEvent::Kind::Added, std::move(come)});
        }
        snapshot = std::move(now);
        if (events.size() != before) {
            changed.notify_all();
        }
    }

    void run() {
        while (sleep()) {
            look();
        }
    }

    // Waits for a uevent, the period's end or stop(); false on stop().
    bool sleep() {
#ifdef KORVANE_HAVE_LIBUDEV
        if (monitor != nullptr) {
            pollfd fds[2] = {{udev_monitor_get_fd(monitor), POLLIN, 0}, {wakeFd, POLLIN, 0}};
            const int ready = poll(fds, 2, static_cast<int>(period.count()));
            if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                // A broken socket would wake every poll at once: from now on
                // the period alone. Only this thread uses the monitor.
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    udevWake = false;
                }
                closeUdevMonitor();
            } else if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
                // Taken and dropped: the enumeration that follows tells what
                // changed. Bounded, so a flood of uevents cannot keep the
                // thread from enumerating and seeing stop().
                for (int i = 0; i < 256; ++i) {
                    udev_device *device = udev_monitor_receive_device(monitor);
                    if (device == nullptr) {
                        break;
                    }
                    udev_device_unref(device);
                }
            }
            std::lock_guard<std::mutex> lock(mutex);
            return !stopping;
        }
#endif
        std::unique_lock<std::mutex> lock(mutex);
        return !changed.wait_for(lock, period, [this] { return stopping; });
    }

#ifdef KORVANE_HAVE_LIBUDEV
    udev *context = nullptr;
    udev_monitor *monitor = nullptr;  // null: wake on the period only
    int wakeFd = -1;                  // eventfd stop() writes to
    bool udevWake = false;            // monitor is open; read under mutex

    // The hidraw monitor; without it (no netlink in a sandbox, say) the
    // period alone wakes the worker.
    void openUdev() {
        context = udev_new();
        wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (context == nullptr || wakeFd < 0) {
            closeUdev();
            return;
        }
        monitor = udev_monitor_new_from_netlink(context, "udev");
        if (monitor == nullptr ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor) < 0) {
            closeUdev();
            return;
        }
        udevWake = true;
    }

    void closeUdevMonitor() {
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
            monitor = nullptr;
        }
    }

    void closeUdev() {
        closeUdevMonitor();
        if (context != nullptr) {
            udev_unref(context);
            context = nullptr;
        }
        if (wakeFd >= 0) {
            close(wakeFd);
            wakeFd = -1;
        }
    }

    void wakeWorker() {
        if (wakeFd >= 0) {
            const uint64_t one = 1;
            ssize_t written = write(wakeFd, &one, sizeof one);
            (void)written;  // a counter already set wakes the worker as well
        }
    }
#else
    void openUdev() {}
    void closeUdev() {}
    void wakeWorker() {}
#endif
};

HotplugMonitor::HotplugMonitor(int periodMs) : state_(new State(periodMs)) {
    // Receiving first, so that a uevent of a change after the snapshot waits
    // in the socket for the worker.
    state_->openUdev();
    state_->snapshot = listAttachedDevices();
    state_->worker = std::thread(&State::run, state_.get());
}

HotplugMonitor::~HotplugMonitor() { stop(); }

std::vector<AttachedDevice> HotplugMonitor::attached() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->snapshot;
}

std::optional<HotplugEvent> HotplugMonitor::next(int timeoutMs) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->changed.wait_for(lock, bounded(timeoutMs),
                             [this] { return !state_->events.empty() || state_->stopping; });
    if (state_->events.empty()) {
        return std::nullopt;
    }
    HotplugEvent event = std::move(state_->events.front());
    state_->events.pop_front();
    return event;
}

std::vector<HotplugEvent> HotplugMonitor::wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->changed.wait_for(lock, bounded(timeoutMs),
                             [this] { return !state_->events.empty() || state_->stopping; });
    std::vector<HotplugEvent> taken(std::make_move_iterator(state_->events.begin()),
                                    std::make_move_iterator(state_->events.end()));
    state_->events.clear();
    return taken;
}

void HotplugMonitor::stop() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    state_->wakeWorker();
    std::lock_guard<std::mutex> joining(state_->joining);
    if (state_->worker.joinable() && state_->worker.get_id() != std::this_thread::get_id()) {
        state_->worker.join();
    }
}

bool HotplugMonitor::running() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return !state_->stopping;
}

bool HotplugMonitor::wakesOnUdev() const {
#ifdef KORVANE_HAVE_LIBUDEV
    // The worker may drop a broken monitor meanwhile.
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->udevWake;
#else
    return false;
#endif
}

}  // namespace korvane
