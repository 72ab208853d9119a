#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "PacketQueue.h"

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
    std::thread producer([&] {
        queue.push(packetWith(5));
        fifthQueued = true;
    });
    std::this_thread::sleep_for(milliseconds(50));
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
    std::thread producer([&] { result = queue.push(packetWith(9)) ? 1 : 0; });
    std::this_thread::sleep_for(milliseconds(20));
    queue.close();
    producer.join();
    EXPECT_EQ(0, result.load());
    EXPECT_FALSE(queue.push(packetWith(10)));
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
