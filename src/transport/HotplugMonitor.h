// HotplugMonitor: supported devices (the family's vendor and product id)
// arriving and leaving, for programs that wait for a device to be plugged in
// or power-cycled instead of polling the device list themselves.
//
// A monitor takes a snapshot of the attached devices when it is made and
// starts a thread of its own that enumerates again (listAttachedDevices,
// the library's enumeration) on each wake and compares the new list with the
// previous one by path: a path that appeared is an added event, a path that
// went is a removed event (a path whose record changed between two looks is
// both: removed, then added). It wakes on a libudev monitor of the hidraw
// subsystem where the library was built with libudev (Linux), and in any
// case every period (200 ms by default), which also sees devices that send
// no uevents (other platforms, the emulated devices). A device that comes
// and goes within one period without a uevent is not seen.
//
// Every wait takes a bound in milliseconds. The monitor is thread-safe: any
// thread may wait on it or stop it; destruction stops it.
#ifndef KORVANE_HOTPLUGMONITOR_H
#define KORVANE_HOTPLUGMONITOR_H

#include <memory>
#include <optional>
#include <vector>

#include "KorDeviceManager.h"
#include "export.h"

#ifndef SWIG
namespace korvane {

// One change of the attached devices: the enumeration record of the device
// that was added, or the last one seen of the device that was removed.
struct HotplugEvent {
    enum class Kind {
        Added,
        Removed
    };
    Kind kind;
    AttachedDevice device;
};

class KORVANE_API HotplugMonitor {
public:
    static constexpr int kDefaultPeriodMs = 200;

    // Enumerates once (the snapshot the first events are relative to) and
    // starts watching; periodMs (at least 1) is the longest time between two
    // enumerations.
    explicit HotplugMonitor(int periodMs = kDefaultPeriodMs);
    // Stops the monitor (waits for an enumeration under way to end).
    ~HotplugMonitor();

    HotplugMonitor(const HotplugMonitor &) = delete;
    HotplugMonitor &operator=(const HotplugMonitor &) = delete;

    // The attached devices of the latest enumeration, in enumeration order.
    std::vector<AttachedDevice> attached() const;

    // The oldest event not yet taken, waiting up to timeoutMs (0: only look)
    // for one; nothing when none came in time or the monitor is stopped.
    std::optional<HotplugEvent> next(int timeoutMs);
    // Every event not yet taken, oldest first, waiting up to timeoutMs for
    // the first; empty when none came in time or the monitor is stopped.
    std::vector<HotplugEvent> wait(int timeoutMs);

    // Stops watching and wakes every waiter; events already found stay to
    // be taken. Idempotent; any thread may call it, also while others wait.
    void stop();
    bool running() const;
    // Whether the monitor wakes on udev's hidraw events (besides its period).
    bool wakesOnUdev() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace korvane
#endif

#endif
