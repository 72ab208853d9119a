#include "PacketQueue.h"

namespace korvane {

bool PacketQueue::push(const korPacket &packet) {
    std::unique_lock<std::mutex> lock(mutex);
    notFull.wait(lock, [this] { return closed || packets.size() < kCapacity; });
    if (closed) {
        return false;
    }
    packets.push_back(packet);
    notEmpty.notify_one();
    return true;
}

bool PacketQueue::waitForRoom() {
    std::unique_lock<std::mutex> lock(mutex);
    notFull.wait(lock, [this] { return closed || packets.size() < kCapacity; });
    return !closed;
}

bool PacketQueue::pop(korPacket &out, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    notEmpty.wait_for(lock, timeout, [this] { return !packets.empty() || interrupted; });
    interrupted = false;
    if (packets.empty()) {
        return false;
    }
    out = packets.front();
    packets.pop_front();
    notFull.notify_one();
    return true;
}

size_t PacketQueue::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    const size_t dropped = packets.size();
    packets.clear();
    notFull.notify_one();
    return dropped;
}

size_t PacketQueue::size() {
    std::lock_guard<std::mutex> lock(mutex);
    return packets.size();
}

void PacketQueue::close() {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    notFull.notify_all();
}

void PacketQueue::interrupt() {
    std::lock_guard<std::mutex> lock(mutex);
    interrupted = true;
    notEmpty.notify_all();
}

void PacketQueue::clearInterrupt() {
    std::lock_guard<std::mutex> lock(mutex);
    interrupted = false;
}

}  // namespace korvane
