// Unplug and replug during steady traffic: while the meter is gone every call
// fails within the answer wait bound, with the failure sentinel and never a
// wrong value; closing and opening again brings the readings back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "Dmm.h"
#include "KorService.h"
#include "korvane_emu.h"
#include "reliability_support.h"

using namespace korvane;

namespace {

using reliability::Stopwatch;

constexpr int kCycles = 4;
constexpr float kVoltage = 5.25f;
constexpr float kFailed = -999.9f;
// Five times the longest a call may take (the wait bound, which a fenced
// request shares with its fence), for a loaded machine.
const double kCallBoundSeconds =
    5 * std::chrono::duration<double>(kor_service::kAnswerTimeout).count();

// Calls getVoltage once, checks its duration and that it either read the
// reading or gave the sentinel. True when it read the reading.
bool timedRead(Dmm &meter, double &slowest) {
    Stopwatch watch;
    const float value = meter.getVoltage();
    const double took = watch.seconds();
    slowest = std::max(slowest, took);
    EXPECT_LT(took, kCallBoundSeconds) << "a call outlived the wait bound";
    if (value == kVoltage)
        return true;
    EXPECT_EQ(value, kFailed) << "a failing read gave a value that is neither reading nor sentinel";
    return false;
}

// Waits (boundedly) until counter exceeds value.
void awaitAbove(const std::atomic<int> &counter, int value) {
    Stopwatch watch;
    while (counter.load() <= value && watch.seconds() < 10.0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// Unplugs the device once the traffic runs steadily, then plugs it back once
// the traffic has seen the failure.
void unplugCycles(int device, const std::atomic<int> &steadyRounds,
                  const std::atomic<int> &failuresSeen, std::atomic<int> &unplugs) {
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        awaitAbove(steadyRounds, cycle);
        std::this_thread::sleep_for(std::chrono::milliseconds(7 * cycle));  // vary the moment
        // Counted before the unplug: a read failing at once must already
        // see it.
        unplugs.fetch_add(1);
        emu_unplug(device);
        awaitAbove(failuresSeen, cycle);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        emu_replug(device);
    }
}

TEST(ReliabilityUnplug, SteadyTrafficSurvivesRepeatedUnplugAndReplug) {
    reliability::EmulatorScope emulator;
    const int device = emu_add_device("DMM", "UP-1", nullptr);
    ASSERT_GE(device, 0);
    emu_set_reading(device, ATT_VOLTAGE, kVoltage, 0.0f, 0);
    Dmm meter;
    ASSERT_FALSE(meter.open());

    // Good reads in a row that count as steady traffic.
    constexpr long kSteady = 10;
    std::atomic<int> steadyRounds{0};
    std::atomic<int> failuresSeen{0};
    std::atomic<int> unplugs{0};
    std::thread control(unplugCycles, device, std::cref(steadyRounds), std::cref(failuresSeen),
                        std::ref(unplugs));

    double slowest = 0.0;
    long reads = 0, readsSinceReopen = 0;
    int reopened = 0;
    Stopwatch total;
    while (reopened < kCycles && total.seconds() < 60.0) {
        ++reads;
        if (timedRead(meter, slowest)) {
            if (++readsSinceReopen == kSteady)
                steadyRounds.fetch_add(1);
            continue;
        }
        // Only an unplug makes a read fail here.
        EXPECT_GT(unplugs.load(), reopened) << "a read failed while the meter was plugged in";
        EXPECT_GE(readsSinceReopen, kSteady) << "traffic failed before the unplug";
        failuresSeen.fetch_add(1);
        EXPECT_FALSE(meter.close()) << "closing the dead link must still succeed";
        EXPECT_FALSE(meter.isConnected());
        Stopwatch reopen;
        while (meter.open() && reopen.seconds() < 10.0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(meter.isConnected()) << "could not open again after replug";
        ++reopened;
        readsSinceReopen = 0;
    }
    control.join();
    ASSERT_EQ(reopened, kCycles);
    // Traffic is healthy again after the last replug.
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(meter.getVoltage(), kVoltage);
    EXPECT_FALSE(meter.close());
    EXPECT_EQ(emu_open_handle_count(), 0) << "a dead handle was not released by close";
    std::printf("[unplug] %d unplug cycles, %ld reads in %.1f s, slowest call %.3f s\n", kCycles,
                reads, total.seconds(), slowest);
}

TEST(ReliabilityUnplug, MeterDestroyedWhileUnpluggedEndsCleanly) {
    reliability::EmulatorScope emulator;
    const int device = emu_add_device("DMM", "UP-2", nullptr);
    emu_set_reading(device, ATT_VOLTAGE, kVoltage, 0.0f, 0);
    const int threadsBefore = reliability::threadCount();
    {
        Dmm meter;
        ASSERT_FALSE(meter.open());
        EXPECT_EQ(meter.getVoltage(), kVoltage);
        emu_unplug(device);
        double slowest = 0.0;
        EXPECT_FALSE(timedRead(meter, slowest));
        // Destroyed still open on a dead link: must close it and end its thread.
    }
    EXPECT_EQ(reliability::threadCountSettledTo(threadsBefore), threadsBefore);
    EXPECT_EQ(emu_open_handle_count(), 0);
}

}  // namespace
