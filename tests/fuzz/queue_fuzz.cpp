// Fuzz target: the bounded packet queue under a sequence of operations that
// the input bytes choose, checked against a plain model of a FIFO of at most
// four packets. Some operations run a second thread (a push that must wait
// for room, a pop that must wait for a packet, a close that must wake a
// waiting push), so the wake-ups are exercised too. Every wait is bounded.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>

#include "PacketQueue.h"
#include "korPacket.h"

namespace {

using std::chrono::milliseconds;

// Generous bound for waits that the other thread satisfies at once.
constexpr milliseconds kSatisfiedWait{2000};

void check(bool condition) {
    if (!condition) std::abort();
}

korPacket makePacket(uint32_t serial, uint8_t fill) {
    korPacket packet;
    std::memset(packet.dat, fill, sizeof packet.dat);
    std::memcpy(packet.dat, &serial, sizeof serial);
    packet.dat[BUF_LEN - 1] = static_cast<uint8_t>(serial ^ fill);  // last byte matters too
    return packet;
}

bool samePacket(const korPacket &a, const korPacket &b) {
    return std::memcmp(a.dat, b.dat, sizeof a.dat) == 0;
}

class QueueModel {
public:
    void run(const uint8_t *data, size_t size) {
        for (size_t i = 0; i < size; ++i) step(data[i]);
        check(queue.size() == model.size());
        // Whatever is left comes out in order.
        korPacket out;
        while (!model.empty()) {
            check(queue.pop(out, milliseconds(0)));
            check(samePacket(out, model.front()));
            model.pop_front();
        }
        check(!queue.pop(out, milliseconds(0)));
    }

private:
    void step(uint8_t byte) {
        const uint8_t fill = byte >> 3;
        switch (byte & 7) {
        case 0:
        case 1:
            pushNow(fill);
            break;
        case 2:
        case 3:
            popNow();
            break;
        case 4:
            popWithHelperPush(fill);
            break;
        case 5:
            pushWithHelperPop(fill);
            break;
        case 6:
            queue.clear();
            model.clear();
            break;
        case 7:
            if (fill & 1) closeDuringWaitingPush(fill);
            else popEmptyTimesOut();
            break;
        }
        check(queue.size() == model.size());
    }

    // A push that cannot wait: room is known to exist, or the queue is closed.
    void pushNow(uint8_t fill) {
        if (!closed && model.size() == PacketQueue::kCapacity) return;
        const korPacket packet = makePacket(++serial, fill);
        check(queue.push(packet) == !closed);
        if (!closed) model.push_back(packet);
    }

    void popNow() {
        korPacket out;
        const bool got = queue.pop(out, milliseconds(0));
        check(got == !model.empty());
        if (got) {
            check(samePacket(out, model.front()));
            model.pop_front();
        }
    }

    // Another thread pushes while this one pops: the pop gets the oldest
    // packet, which is the helper's when the queue was empty.
    void popWithHelperPush(uint8_t fill) {
        if (closed && model.empty()) return;  // the pop would only time out
        const korPacket packet = makePacket(++serial, fill);
        bool pushed = false;
        std::thread helper([&] { pushed = queue.push(packet); });
        korPacket out;
        const bool got = queue.pop(out, kSatisfiedWait);
        helper.join();
        check(pushed == !closed);
        if (pushed) model.push_back(packet);
        check(got && !model.empty() && samePacket(out, model.front()));
        model.pop_front();
    }

    // A push into a full queue waits until another thread pops.
    void pushWithHelperPop(uint8_t fill) {
        if (closed || model.size() != PacketQueue::kCapacity) return pushNow(fill);
        korPacket out;
        bool got = false;
        std::thread helper([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            got = queue.pop(out, kSatisfiedWait);
        });
        const korPacket packet = makePacket(++serial, fill);
        check(queue.push(packet));
        helper.join();
        check(got && samePacket(out, model.front()));
        model.pop_front();
        model.push_back(packet);
    }

    // close() wakes a push that waits for room; the push gives up.
    void closeDuringWaitingPush(uint8_t fill) {
        while (!closed && model.size() < PacketQueue::kCapacity) pushNow(fill);
        bool pushed = true;
        std::thread helper([&] { pushed = queue.push(makePacket(++serial, fill)); });
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        queue.close();
        helper.join();
        closed = true;
        check(!pushed);
    }

    void popEmptyTimesOut() {
        if (!model.empty()) return popNow();
        korPacket out;
        const auto start = std::chrono::steady_clock::now();
        check(!queue.pop(out, milliseconds(1)));
        check(std::chrono::steady_clock::now() - start < kSatisfiedWait);
    }

    PacketQueue queue;
    std::deque<korPacket> model;
    bool closed = false;
    uint32_t serial = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QueueModel model;
    model.run(data, size);
    return 0;
}
