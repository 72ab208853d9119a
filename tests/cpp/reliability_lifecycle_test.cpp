// Lifecycle: models are created, opened, closed and destroyed many times over.
// Each receive thread must end with its model, no emulated handle may stay
// open and resident memory must not grow. (The Python suite repeats this
// through the module; this copy runs under the sanitizers too.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "Brondel.h"
#include "Dmm.h"
#include "Vanta.h"
#include "korvane_emu.h"
#include "reliability_support.h"

using namespace korvane;

namespace {

constexpr long kDefaultCycles = 200;
constexpr long kWarmupCycles = 20;

struct LifecycleCase {
    const char *model;  // product name the emulator enumerates
    // One cycle: construct, open, check, close (or not), destroy. Returns an
    // empty string or what went wrong.
    std::string (*cycle)(bool closeBeforeDelete, int threadsBefore);
};

template <typename Model>
std::string cycleOf(bool closeBeforeDelete, int threadsBefore) {
    auto model = std::make_unique<Model>();
    if (reliability::threadCount() != threadsBefore + 1)
        return "no receive thread while alive";
    if (model->open())
        return "open failed";
    if (!model->isConnected())
        return "not connected after open";
    if (emu_open_handle_count() != 1)
        return "open did not hold exactly one handle";
    if (closeBeforeDelete && model->close())
        return "close failed";
    model.reset();  // a model destroyed while open closes its link itself
    if (reliability::threadCountSettledTo(threadsBefore) != threadsBefore)
        return "receive thread outlived its model";
    if (emu_open_handle_count() != 0)
        return "handle left open";
    return "";
}

class ReliabilityLifecycle : public ::testing::TestWithParam<LifecycleCase> {};

TEST_P(ReliabilityLifecycle, ThreadsHandlesAndMemoryReturn) {
    reliability::EmulatorScope emulator;
    const LifecycleCase &param = GetParam();
    const int device = emu_add_device(param.model, "LC-1", nullptr);
    ASSERT_GE(device, 0);
    const long cycles = reliability::countFromEnv("KORVANE_LIFECYCLE_CYCLES", kDefaultCycles);
    const int threadsBefore = reliability::threadCount();
    ASSERT_GT(threadsBefore, 0);

    long residentAfterWarmup = 0;
    reliability::Stopwatch watch;
    for (long i = 0; i < cycles; ++i) {
        const std::string problem = param.cycle(i % 2 == 0, threadsBefore);
        ASSERT_EQ(problem, "") << param.model << " cycle " << i;
        emu_log_clear(device);  // the emulator's traffic log is not the library's memory
        if (i + 1 == std::min(kWarmupCycles, cycles))
            residentAfterWarmup = reliability::residentBytes();
    }
    const long growth = reliability::residentBytes() - residentAfterWarmup;
    std::printf(
        "[lifecycle] %s: %ld cycles in %.1f s, threads %d -> %d, open handles %d, "
        "resident growth %ld KiB\n",
        param.model, cycles, watch.seconds(), threadsBefore,
        reliability::threadCountSettledTo(threadsBefore), emu_open_handle_count(), growth / 1024);
    EXPECT_EQ(reliability::threadCountSettledTo(threadsBefore), threadsBefore);
    EXPECT_EQ(emu_open_handle_count(), 0);
    if (reliability::kResidentSizeMeaningful) {
        EXPECT_LT(growth, 1024L * 1024);
    }
}

INSTANTIATE_TEST_SUITE_P(Reliability, ReliabilityLifecycle,
                         ::testing::Values(LifecycleCase{"Vanta", &cycleOf<Vanta>},
                                           LifecycleCase{"Brondel HUB", &cycleOf<Brondel>},
                                           LifecycleCase{"DMM", &cycleOf<Dmm>}),
                         [](const ::testing::TestParamInfo<LifecycleCase> &info) {
                             std::string name = info.param.model;
                             return name.substr(0, name.find(' '));
                         });

}  // namespace
