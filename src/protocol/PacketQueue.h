// PacketQueue: the bounded blocking queue between a receive thread and the
// transactions of one attribute service.
#ifndef KORVANE_PACKETQUEUE_H
#define KORVANE_PACKETQUEUE_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

#include "korPacket.h"

namespace korvane {

class PacketQueue {
public:
    static constexpr size_t kCapacity = 4;

    PacketQueue() = default;
    // Appends a copy, waiting while the queue is full. Returns false without
    // queuing when close() was called (so a stopping receive thread never
    // waits for room that will not come).
    bool push(const korPacket &packet);
    // Waits while the queue is full; false once close() was called.
    bool waitForRoom();
    // Takes the oldest packet, waiting at most timeout. False when the wait
    // expired, or was interrupted, with nothing queued.
    bool pop(korPacket &out, std::chrono::milliseconds timeout);
    // Ends the pop in progress, or the next one, at once when nothing is
    // queued: the link went away and no answer can come any more.
    void interrupt();
    // Forgets an interrupt that no pop has consumed.
    void clearInterrupt();
    // Drops every queued packet; returns how many there were.
    size_t clear();
    size_t size();
    // Wakes a push waiting for room and makes every later push give up.
    void close();

private:
    std::mutex mutex;
    std::deque<korPacket> packets;
    std::condition_variable notFull;
    std::condition_variable notEmpty;
    bool closed = false;
    bool interrupted = false;
};

}  // namespace korvane

#endif
