// Fuzz target: the bounded packet queue under a sequence of operations that
// the input bytes choose, checked against a plain model of a FIFO of at most
// four packets. It runs on one thread and never waits (pushes only where
// room is known to exist or the queue is closed, pops without a wait), so an
// input always takes the same path and a crash repeats. Timed waits and the
// wake-ups between threads (a push waiting for room, a pop waiting for a
// packet, close waking a push) are unit tests in
// tests/cpp/packet_queue_test.cpp.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "PacketQueue.h"
#include "korPacket.h"

using namespace korvane;

namespace {

using std::chrono::milliseconds;

void check(bool condition) {
    if (!condition)
        std::abort();
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
        for (size_t i = 0; i < size; ++i)
            step(data[i]);
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
            case 1: pushNow(fill); break;
            case 2:
            case 3: popNow(); break;
            case 4: pushThenPop(fill); break;
            case 5: popThenPushWhenFull(fill); break;
            case 6:
                queue.clear();
                model.clear();
                break;
            case 7:
                // Half of these close the queue, half pop: closing ends
                // every later push, so it stays the rarest step.
                if (fill & 1)
                    fillAndClose(fill);
                else
                    popNow();
                break;
        }
        check(queue.size() == model.size());
    }

    // A push that cannot wait: room is known to exist, or the queue is closed.
    void pushNow(uint8_t fill) {
        if (!closed && model.size() == PacketQueue::kCapacity)
            return;
        const korPacket packet = makePacket(++serial, fill);
        check(queue.push(packet) == !closed);
        if (!closed)
            model.push_back(packet);
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

    // A push and a pop back to back: the pop gets the oldest packet, the
    // pushed one when the queue was empty.
    void pushThenPop(uint8_t fill) {
        popThenPushWhenFull(fill);
        popNow();
    }

    // A full queue makes room and takes one more packet at the back.
    void popThenPushWhenFull(uint8_t fill) {
        if (!closed && model.size() == PacketQueue::kCapacity)
            popNow();
        pushNow(fill);
    }

    // Filled up and closed: later pushes give up, queued packets stay.
    void fillAndClose(uint8_t fill) {
        while (!closed && model.size() < PacketQueue::kCapacity)
            pushNow(fill);
        queue.close();
        closed = true;
        check(!queue.push(makePacket(++serial, fill)));
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
