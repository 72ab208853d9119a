// Soak: a long run of attribute transactions against emulated meters that
// refuse some requests, send notifications before answers and between
// transactions, and answer some attributes with malformed packets. Every
// result must match what the device did, every answer must stay paired with
// its own request, and resident memory must stay flat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Attribute.h"
#include "KorDevice.h"
#include "KorService.h"
#include "hid_read_probe.h"
#include "korvane_emu.h"
#include "reliability_support.h"

using namespace korvane;

namespace {

using reliability::Stopwatch;

// Several devices in parallel: one transaction costs about one receive poll
// (1 ms), so four links cover the run in a quarter of the time.
constexpr int kWorkers = 4;
constexpr long kDefaultTransactions = 100000;
constexpr long kWarmupPerWorker = 1000;

constexpr int kGoodAttributes = 8;
constexpr uint16_t kGoodBase = 0x7000;
constexpr uint16_t kFailingAttid = 0x7100;
constexpr uint16_t kMalformedBase = 0x7200;
constexpr uint32_t kUntouched = 0xA5A5A5A5u;

// Answers that must fail both a read and a write of their attribute.
const std::vector<std::vector<uint8_t>> kMalformedAnswers = {
    {0x43, 0x13, 0x01, 1, 2, 3, 4},  // reserved length bit 6 set
    {0x02, 0x13, 0x01},              // length below the answer header
    {0x24, 0x13, 0x01, 1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
     16,   17,   18,   19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33},  // 33 bytes
    {0x03, 0x11, 0x01},              // opcode of neither request
    {0x04, 0x12, 0x01, 0x00},        // write echo with a wrong length
    {0x07, 0x13, 0x02, 1, 2, 3, 4},  // unknown return code
    {},                              // an all-zero report
};

enum class Step {
    ReadGood,
    WriteGood,
    ReadFailing,
    WriteFailing,
    ReadMalformed,
    WriteMalformed,
    NotifiedRead,
    StrayNotificationRead,
};

// One emulated meter with its own link and service, driven by one thread.
class SoakWorker {
public:
    explicit SoakWorker(int index)
        : index(index), path("/dev/emu-soak-" + std::to_string(index)), rng(0x50AC + index) {
        device = emu_add_device("DMM", ("SOAK-" + std::to_string(index)).c_str(), path.c_str());
        for (int k = 0; k < kGoodAttributes; ++k) {
            model[k] = tagged(k, static_cast<uint32_t>(k));
            storeOnDevice(static_cast<uint16_t>(kGoodBase + k), model[k]);
        }
        storeOnDevice(kFailingAttid, 0x11111111u);
        emu_set_fail_attribute(device, kFailingAttid, 1);
        for (size_t m = 0; m < kMalformedAnswers.size(); ++m) {
            const uint16_t attid = static_cast<uint16_t>(kMalformedBase + m);
            storeOnDevice(attid, 0x22222222u);
            emu_set_raw_answer(device, attid, kMalformedAnswers[m].data(),
                               static_cast<int>(kMalformedAnswers[m].size()));
        }
        opened = !link.open(path.c_str());
    }

    bool isOpen() const { return opened; }

    // Runs count transactions of random kinds; timedFaults adds one muted
    // read and one late answer half-way through.
    void run(long count, bool timedFaults) {
        std::discrete_distribution<int> pick({40, 25, 6, 5, 6, 6, 6, 6});
        for (long i = 0; i < count && problems.size() < 20; ++i) {
            if (timedFaults && i == count / 2) {
                mutedRead();
                lateAnswer();
            }
            step(static_cast<Step>(pick(rng)));
            if (++transactions % 1000 == 0)
                emu_log_clear(device);
        }
    }

    // After the run: every attribute reads back what the device holds.
    void verifyPairing() {
        for (int k = 0; k < kGoodAttributes; ++k)
            expectRead(k, "final read");
    }

    long transactions = 0;
    std::vector<std::string> problems;

private:
    uint32_t tagged(int k, uint32_t counter) const {
        // Worker and attribute in the top byte: a value that reaches the
        // wrong request can never look right.
        return (static_cast<uint32_t>(index) << 28) | (static_cast<uint32_t>(k) << 24) |
               (counter & 0xFFFFFFu);
    }

    void storeOnDevice(uint16_t attid, uint32_t value) {
        uint8_t bytes[4];
        std::memcpy(bytes, &value, sizeof bytes);  // little-endian host, as the wire
        emu_set_attribute(device, attid, bytes, 4);
    }

    uint32_t deviceValue(uint16_t attid) {
        uint8_t bytes[64] = {};
        const int len = emu_get_attribute(device, attid, bytes, sizeof bytes);
        uint32_t value = 0;
        if (len >= 4)
            std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    void problem(const std::string &what) {
        std::ostringstream text;
        text << "worker " << index << " transaction " << transactions << ": " << what;
        problems.push_back(text.str());
    }

    void expectRead(int k, const char *context) {
        Attribute attribute(static_cast<uint16_t>(kGoodBase + k), 0, 0);
        if (service.readAttribute(&attribute)) {
            problem(std::string(context) + ": read of a served attribute failed");
        } else if (attribute.getValueLength() != 4 || attribute.getValueUint32() != model[k]) {
            std::ostringstream text;
            text << context << ": attribute " << k << " read 0x" << std::hex
                 << attribute.getValueUint32() << " expected 0x" << model[k];
            problem(text.str());
        }
    }

    void expectRefusedRead(uint16_t attid, const char *what) {
        Attribute attribute(attid, 0, 0);
        attribute.setValue(kUntouched);
        if (!service.readAttribute(&attribute))
            problem(std::string(what) + ": read succeeded");
        if (attribute.getValueLength() != 4 || attribute.getValueUint32() != kUntouched)
            problem(std::string(what) + ": failed read changed the attribute");
    }

    void expectRefusedWrite(uint16_t attid, const char *what) {
        const uint32_t before = deviceValue(attid);
        Attribute attribute(attid, 0, 0);
        attribute.setValue(static_cast<uint32_t>(rng()));
        if (!service.writeAttribute(attribute))
            problem(std::string(what) + ": write succeeded");
        if (deviceValue(attid) != before && attid == kFailingAttid)
            problem("refused write changed the device's value");
    }

    void step(Step kind) {
        const int k = static_cast<int>(rng() % kGoodAttributes);
        const uint16_t malformed =
            static_cast<uint16_t>(kMalformedBase + rng() % kMalformedAnswers.size());
        switch (kind) {
            case Step::ReadGood: expectRead(k, "read"); break;
            case Step::WriteGood: {
                const uint32_t value = tagged(k, static_cast<uint32_t>(rng()));
                Attribute attribute(static_cast<uint16_t>(kGoodBase + k), 0, 0);
                attribute.setValue(value);
                if (service.writeAttribute(attribute)) {
                    problem("write of a served attribute failed");
                } else {
                    model[k] = value;
                    if (deviceValue(static_cast<uint16_t>(kGoodBase + k)) != value)
                        problem("confirmed write did not reach the device");
                }
                break;
            }
            case Step::ReadFailing: expectRefusedRead(kFailingAttid, "RC_FAIL attribute"); break;
            case Step::WriteFailing: expectRefusedWrite(kFailingAttid, "RC_FAIL attribute"); break;
            case Step::ReadMalformed: expectRefusedRead(malformed, "malformed answer"); break;
            case Step::WriteMalformed: expectRefusedWrite(malformed, "malformed answer"); break;
            case Step::NotifiedRead:
                emu_set_notifications_before_answer(device, 1 + static_cast<int>(rng() % 3));
                expectRead(k, "read after notifications");
                emu_set_notifications_before_answer(device, 0);
                break;
            case Step::StrayNotificationRead: {
                // Notifications whose other bytes look like a good read answer.
                const uint8_t notification[] = {0x07, 0xA0, 0x01, 0xEF, 0xBE, 0xAD, 0xDE};
                const int count = 1 + static_cast<int>(rng() % 2);
                for (int n = 0; n < count; ++n)
                    emu_inject_report(device, notification, sizeof notification);
                expectRead(k, "read after stray notifications");
                break;
            }
        }
    }

    // A device that stops answering: the read fails within the wait bound.
    void mutedRead() {
        emu_set_mute(device, 1);
        Stopwatch watch;
        expectRefusedRead(kGoodBase, "muted device");
        const double waited = watch.seconds();
        emu_set_mute(device, 0);
        // The wait bound is 1 s; the upper limit leaves room for a loaded machine.
        if (waited < 0.9 || waited > 5.0)
            problem("muted read took " + std::to_string(waited) + " s");
        ++transactions;
    }

    // An answer that arrives after its request gave up must not complete the
    // next request, which asks for another attribute.
    void lateAnswer() {
        emu_set_answer_delay(device, 1250);
        // Every report sent before this request has been read by now: each
        // came before the answer of an earlier transaction.
        const long readBefore = hid_probe::reportsRead(path);
        Stopwatch watch;
        expectRefusedRead(kGoodBase, "late answer");
        const double waited = watch.seconds();
        emu_set_answer_delay(device, 0);
        if (waited > 5.0)
            problem("late read took " + std::to_string(waited) + " s");
        // The next request goes out once the late answer has come in.
        if (hid_probe::awaitReportsRead(path, readBefore + 1) < readBefore + 1)
            problem("the late answer never arrived");
        expectRead(1, "read after a late answer");
        transactions += 2;
    }

    const int index;
    const std::string path;
    std::mt19937 rng;
    int device = -1;
    bool opened = false;
    uint32_t model[kGoodAttributes] = {};
    KorDevice link;
    KorService service{&link};
};

void runAll(std::vector<std::unique_ptr<SoakWorker>> &workers, long each, bool timedFaults) {
    std::vector<std::thread> threads;
    for (auto &worker : workers)
        threads.emplace_back([&worker, each, timedFaults] { worker->run(each, timedFaults); });
    for (auto &thread : threads)
        thread.join();
}

TEST(ReliabilitySoak, TransactionsStayPairedUnderFaults) {
    reliability::EmulatorScope emulator;
    const long total = reliability::countFromEnv("KORVANE_SOAK_TRANSACTIONS", kDefaultTransactions);
    const long warmup = std::min(kWarmupPerWorker, total / kWorkers / 10 + 1);
    const long each = (total + kWorkers - 1) / kWorkers - warmup;

    std::vector<std::unique_ptr<SoakWorker>> workers;
    for (int i = 0; i < kWorkers; ++i) {
        workers.push_back(std::make_unique<SoakWorker>(i));
        ASSERT_TRUE(workers.back()->isOpen()) << "worker " << i << " could not open its device";
    }

    Stopwatch watch;
    runAll(workers, warmup, false);
    const long residentBefore = reliability::residentBytes();
    runAll(workers, each, true);
    const long residentAfter = reliability::residentBytes();
    const double seconds = watch.seconds();

    long done = 0;
    for (auto &worker : workers) {
        worker->verifyPairing();
        done += worker->transactions;
        for (const auto &problem : worker->problems)
            ADD_FAILURE() << problem;
    }
    const long growth = residentAfter - residentBefore;
    std::printf(
        "[soak] %ld transactions in %.1f s (%.0f/s over %d links); resident %ld KiB -> "
        "%ld KiB (growth %ld KiB)\n",
        done, seconds, done / seconds, kWorkers, residentBefore / 1024, residentAfter / 1024,
        growth / 1024);
    EXPECT_GE(done, total);
    if (reliability::kResidentSizeMeaningful) {
        EXPECT_LT(growth, 2L * 1024 * 1024) << "resident size grew during the soak";
    }
}

}  // namespace
