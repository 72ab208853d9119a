// The hotplug monitor on the emulated devices, which send no uevents: the
// monitor sees them on its period.
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "HotplugMonitor.h"
#include "emu_helpers.h"

using namespace korvane;

namespace {

using Clock = std::chrono::steady_clock;
using Kind = HotplugEvent::Kind;

constexpr int kPeriodMs = 20;
constexpr int kBoundMs = 5000;  // every wait for an event that must come

class Hotplug : public EmuTest {};

std::vector<std::string> pathsOf(const std::vector<AttachedDevice> &records) {
    std::vector<std::string> paths;
    for (const AttachedDevice &record : records) {
        paths.push_back(record.path);
    }
    return paths;
}

TEST_F(Hotplug, DevicesArriveAndLeaveAsEvents) {
    const int board = addDevice("Vanta", "VT-1", "/dev/emu-a");
    HotplugMonitor monitor(kPeriodMs);
    EXPECT_EQ(std::vector<std::string>{"/dev/emu-a"}, pathsOf(monitor.attached()));
    EXPECT_FALSE(monitor.next(0).has_value());  // what was attached at the start is no event

    addDevice("DMM", "DM-1", "/dev/emu-m");
    std::optional<HotplugEvent> event = monitor.next(kBoundMs);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(Kind::Added, event->kind);
    EXPECT_EQ("/dev/emu-m", event->device.path);
    EXPECT_EQ("DMM", event->device.product);
    EXPECT_EQ("DM-1", event->device.serial);
    EXPECT_EQ(0, event->device.interfaceNumber);

    ASSERT_EQ(0, emu_unplug(board));
    event = monitor.next(kBoundMs);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(Kind::Removed, event->kind);
    EXPECT_EQ("/dev/emu-a", event->device.path);
    EXPECT_EQ("VT-1", event->device.serial);  // the record last seen
    EXPECT_EQ(std::vector<std::string>{"/dev/emu-m"}, pathsOf(monitor.attached()));

    ASSERT_EQ(0, emu_replug(board));
    const std::vector<HotplugEvent> events = monitor.wait(kBoundMs);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(Kind::Added, events[0].kind);
    EXPECT_EQ("/dev/emu-a", events[0].device.path);
}

TEST_F(Hotplug, EachInterfaceRecordIsAnEvent) {
    HotplugMonitor monitor(kPeriodMs);
    const int meter = addDevice("DMM", "DM-1", "/dev/emu-m");
    ASSERT_EQ(0, emu_set_interface_count(meter, 2));
    std::vector<std::string> added;
    for (const Clock::time_point end = Clock::now() + std::chrono::milliseconds(kBoundMs);
         added.size() < 2 && Clock::now() < end;) {
        for (const HotplugEvent &event : monitor.wait(100)) {
            EXPECT_EQ(Kind::Added, event.kind);
            added.push_back(event.device.path);
        }
    }
    // Both records may come in one look or, when the second interface was
    // set after a look, in two.
    EXPECT_EQ((std::vector<std::string>{"/dev/emu-m", "/dev/emu-m:1"}), added);
}

TEST_F(Hotplug, AWaitWithoutChangesEndsAtItsBound) {
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    HotplugMonitor monitor(kPeriodMs);
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(monitor.next(150).has_value());
    EXPECT_TRUE(monitor.wait(50).empty());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
    EXPECT_TRUE(monitor.running());
}

TEST_F(Hotplug, StopFromAnotherThreadEndsAWaitAtOnce) {
    HotplugMonitor monitor(kPeriodMs);
    std::optional<HotplugEvent> got;
    Clock::duration waited{};
    std::thread waiter([&] {
        const Clock::time_point start = Clock::now();
        got = monitor.next(60000);
        waited = Clock::now() - start;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    monitor.stop();
    waiter.join();
    EXPECT_FALSE(got.has_value());
    EXPECT_LT(waited, std::chrono::milliseconds(kBoundMs));
    EXPECT_FALSE(monitor.running());
    monitor.stop();  // again: nothing happens

    // Stopped, it looks no more, and waits end at once.
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * kPeriodMs));
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(monitor.wait(10000).empty());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kBoundMs));
}

TEST_F(Hotplug, EventsFoundBeforeStopStayToBeTaken) {
    HotplugMonitor monitor(kPeriodMs);
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    // Taken only once the monitor has found it.
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(kBoundMs);
    while (monitor.attached().empty() && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    monitor.stop();
    std::optional<HotplugEvent> event = monitor.next(0);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ("/dev/emu-a", event->device.path);
    EXPECT_FALSE(monitor.next(0).has_value());
}

}  // namespace
