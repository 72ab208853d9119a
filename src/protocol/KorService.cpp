#include "KorService.h"

#include <algorithm>

#include "PacketCodec.h"

using std::chrono::steady_clock;

KorService::KorService(KorDevice *device)
    : device(device),
      receiveThread(nullptr),
      stopRequested(false),
      answerMayBeLate(false),
      lateAnswerLink(0) {
    // If the thread cannot start, std::system_error leaves the constructor
    // and the new-expression frees the thread object's storage.
    receiveThread = new std::thread(&KorService::receiveLoop, this);
}

KorService::~KorService() {
    stopRequested.store(true);
    // A receive thread waiting for room in a full queue would never reach
    // its stop test; closing the queue makes that push give up.
    queue.close();
    receiveThread->join();
    delete receiveThread;
}

void KorService::receiveLoop() {
    // One buffer for the thread's whole life; a short report leaves the
    // bytes of earlier ones behind it, which no answer check reads.
    korPacket received{};
    // Polls start on a fixed 1 ms cadence on the monotonic clock. Counting
    // each interval from the end of the last sleep would add the sleep's
    // overshoot (about 0.1 ms here) to every poll and so to every
    // transaction. A poll that fell behind starts the cadence afresh rather
    // than catching up, so two polls never come closer than one interval.
    steady_clock::time_point deadline = steady_clock::now();
    do {
        if (device != nullptr && device->read(received.dat) > 0 &&
            !packet::isNotification(received.dat)) {
            queue.push(received);
        }
        deadline += kor_service::kPollInterval;
        const steady_clock::time_point now = steady_clock::now();
        if (deadline < now) {
            deadline = now + kor_service::kPollInterval;
        }
        // Sleep until the deadline, again for the remainder if woken early.
        while (steady_clock::now() < deadline) {
            std::this_thread::sleep_until(deadline);
        }
    } while (!stopRequested.load());
}

bool KorService::writeAttribute(Attribute attribute) {
    uint8_t request[packet::kMaxPacketLen];
    size_t len = packet::encodeWrite(attribute, request);
    korPacket answer;
    if (!transact(request, len, answer)) {
        return true;
    }
    return !packet::isWriteOk(answer.dat);
}

bool KorService::readAttribute(Attribute *attribute) {
    if (attribute == nullptr) {
        return true;
    }
    uint8_t request[packet::kMaxPacketLen];
    size_t len = packet::encodeRead(attribute->getAttid(), request);
    korPacket answer;
    uint8_t valueLen = 0;
    if (!transact(request, len, answer) || !packet::isReadOk(answer.dat, &valueLen)) {
        return true;
    }
    // Refuses more than VALUE_LEN bytes, leaving the attribute unchanged.
    return attribute->setValue(answer.dat + packet::kAnswerHeaderLen, valueLen);
}

bool KorService::transact(const uint8_t *request, size_t len, korPacket &answer) {
    std::lock_guard<std::mutex> lock(transactionMutex);
    if (device == nullptr || !device->isOpen()) {
        return false;
    }
    discardLateAnswer();
    const unsigned long link = device->openGeneration();
    uint8_t payload[packet::kMaxPacketLen];
    std::copy(request, request + len, payload);
    // write refuses only a closed link (closed since the test above): no
    // answer can come then. A failed transfer is seen as a missing answer.
    if (device->write(payload, static_cast<uint8_t>(len))) {
        return false;
    }
    if (queue.pop(answer, kor_service::kAnswerTimeout)) {
        return true;
    }
    answerMayBeLate = true;
    lateAnswerLink = link;
    lateAnswerDeadline = steady_clock::now() + kor_service::kLateAnswerGrace;
    return false;
}

// Answers carry no attribute id, so the answer of an expired request that
// arrives later would be taken by the next request. Whatever is queued now
// came after that request was sent and is dropped; if nothing came yet, one
// answer arriving within the grace is dropped as the late one. A link opened
// again since then cannot deliver it, so there is nothing to wait for.
void KorService::discardLateAnswer() {
    if (!answerMayBeLate) {
        return;
    }
    answerMayBeLate = false;
    if (queue.clear() > 0 || device->openGeneration() != lateAnswerLink) {
        return;
    }
    const steady_clock::duration left = lateAnswerDeadline - steady_clock::now();
    if (left > steady_clock::duration::zero()) {
        korPacket stale;
        queue.pop(stale, std::chrono::ceil<std::chrono::milliseconds>(left));
    }
}
