#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "PacketQueue.h"
#include "thread_state.h"

using namespace korvane;

namespace {

using std::chrono::milliseconds;

korPacket packetWith(uint8_t marker) {
    korPacket p{};
    p.dat[0] = marker;
    p.dat[BUF_LEN - 1] = marker;
    return p;
}

TEST(PacketQueue, OldestFirstAndWholeBufferCopied) {
    PacketQueue queue;
    for (uint8_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(queue.push(packetWith(i)));
    }
    korPacket out{};
    for (uint8_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(queue.pop(out, milliseconds(0)));
        EXPECT_EQ(i, out.dat[0]);
        EXPECT_EQ(i, out.dat[BUF_LEN - 1]);
    }
    EXPECT_EQ(0u, queue.size());
}

TEST(PacketQueue, PopWaitIsBounded) {
    PacketQueue queue;
    korPacket out{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.pop(out, milliseconds(50)));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(50));
    EXPECT_LT(waited, milliseconds(2000));
}

TEST(PacketQueue, FifthPushWaitsForRoom) {
    PacketQueue queue;
    for (uint8_t i = 1; i <= PacketQueue::kCapacity; ++i) {
        ASSERT_TRUE(queue.push(packetWith(i)));
    }
    std::atomic<bool> fifthQueued{false};
    std::atomic<pid_t> producerId{0};
    std::thread producer([&] {
        producerId = thread_state::currentThreadId();
        queue.push(packetWith(5));
        fifthQueued = true;
    });
    EXPECT_BLOCKED(producerId);
    EXPECT_FALSE(fifthQueued.load());
    EXPECT_EQ(4u, queue.size());

    korPacket out{};
    ASSERT_TRUE(queue.pop(out, milliseconds(1000)));
    EXPECT_EQ(1, out.dat[0]);
    producer.join();
    EXPECT_TRUE(fifthQueued.load());
    EXPECT_EQ(4u, queue.size());
}

TEST(PacketQueue, CloseReleasesAWaitingPushAndRefusesLaterOnes) {
    PacketQueue queue;
    for (uint8_t i = 1; i <= PacketQueue::kCapacity; ++i) {
        ASSERT_TRUE(queue.push(packetWith(i)));
    }
    std::atomic<int> result{-1};
    std::atomic<pid_t> producerId{0};
    std::thread producer([&] {
        producerId = thread_state::currentThreadId();
        result = queue.push(packetWith(9)) ? 1 : 0;
    });
    EXPECT_BLOCKED(producerId);
    EXPECT_EQ(-1, result.load());  // still waiting for room
    queue.close();
    producer.join();
    EXPECT_EQ(0, result.load());
    EXPECT_FALSE(queue.push(packetWith(10)));
}

TEST(PacketQueue, WaitingPopTakesAPacketPushedMeanwhile) {
    PacketQueue queue;
    std::atomic<int> taken{-1};
    std::atomic<pid_t> consumerId{0};
    std::thread consumer([&] {
        consumerId = thread_state::currentThreadId();
        korPacket out{};
        taken = queue.pop(out, milliseconds(10000)) ? out.dat[BUF_LEN - 1] : 0;
    });
    EXPECT_BLOCKED(consumerId);
    EXPECT_EQ(-1, taken.load());  // nothing to take yet
    ASSERT_TRUE(queue.push(packetWith(7)));
    consumer.join();
    EXPECT_EQ(7, taken.load());
    EXPECT_EQ(0u, queue.size());
}

// Pushes and pops racing from two threads: every packet comes out once, in
// order, and the queue never holds more than its capacity.
TEST(PacketQueue, ProducerAndConsumerKeepOrderWithoutLoss) {
    PacketQueue queue;
    constexpr int kPackets = 2000;
    std::atomic<bool> overfull{false};
    std::thread producer([&] {
        for (int i = 0; i < kPackets; ++i) {
            korPacket p{};
            p.dat[0] = static_cast<uint8_t>(i);
            p.dat[1] = static_cast<uint8_t>(i >> 8);
            queue.push(p);
            if (queue.size() > PacketQueue::kCapacity)
                overfull = true;
        }
    });
    int next = 0;
    for (; next < kPackets; ++next) {
        korPacket out{};
        if (!queue.pop(out, milliseconds(10000)))
            break;
        if (out.dat[0] + (out.dat[1] << 8) != next)
            break;
    }
    // A consumer that stopped early leaves the producer waiting for room in
    // a full queue; closing it makes that push give up, so the join returns.
    queue.close();
    producer.join();
    EXPECT_EQ(kPackets, next);
    EXPECT_FALSE(overfull.load());
}

TEST(PacketQueue, ClearDropsEverything) {
    PacketQueue queue;
    queue.push(packetWith(1));
    queue.push(packetWith(2));
    queue.clear();
    korPacket out{};
    EXPECT_FALSE(queue.pop(out, milliseconds(0)));
}

}  // namespace
