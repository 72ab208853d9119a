#include "KorService.h"

#include <algorithm>

#include "CallGuard.h"
#include "PacketCodec.h"
#include "PollTimer.h"

using std::chrono::steady_clock;

// If the thread cannot start, std::system_error leaves the constructor and
// the members made so far are destroyed again.
KorService::KorService(KorDevice *device)
    : device(device),
      stopRequested(false),
      awaitingAnswer(false),
      answerMayBeLate(false),
      lateAnswerLink(0),
      receiveThread(&KorService::receiveLoop, this) {}

KorService::~KorService() {
    stopRequested.store(true);
    // A receive thread waiting for room in a full queue would never reach
    // its stop test; closing the queue makes that push give up.
    queue.close();
    receiveThread.join();
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
    // The sleeps need a timer finer than Windows' default 15.6 ms tick; the
    // timer belongs to this thread and lives as long as the loop.
    PollTimer pollTimer;
    steady_clock::time_point deadline = steady_clock::now();
    do {
        const int got = device != nullptr ? device->read(received.dat) : -1;
        if (got > 0 && !packet::isNotification(received.dat)) {
            queue.push(received);
        } else if (got < 0 && awaitingAnswer.load()) {
            // The link closed under a waiting transaction (the device is
            // gone): no answer can come, so the wait ends now.
            queue.interrupt();
        }
        deadline += kor_service::kPollInterval;
        const steady_clock::time_point now = steady_clock::now();
        if (deadline < now) {
            deadline = now + kor_service::kPollInterval;
        }
        pollTimer.sleepUntil(deadline);
    } while (!stopRequested.load());
}

bool KorService::writeAttribute(Attribute attribute) { return !write(attribute).ok(); }

bool KorService::readAttribute(Attribute *attribute) {
    return attribute == nullptr || !read(*attribute).ok();
}

AttributeResult KorService::write(const Attribute &attribute) {
    CallGuard call(device);
    uint8_t request[packet::kMaxPacketLen];
    size_t len = packet::encodeWrite(attribute, request);
    korPacket answer;
    const AttributeStatus sent = transact(request, len, answer);
    if (sent != AttributeStatus::Ok) {
        return {sent, 0};
    }
    if (packet::isWriteOk(answer.dat)) {
        return {AttributeStatus::Ok, RC_OK};
    }
    if (packet::isRefusal(answer.dat, OP_ATT_VALUE_SET)) {
        return {AttributeStatus::Refused, answer.dat[2]};
    }
    return {AttributeStatus::Malformed, 0};
}

AttributeResult KorService::read(Attribute &attribute) {
    CallGuard call(device);
    uint8_t request[packet::kMaxPacketLen];
    size_t len = packet::encodeRead(attribute.getAttid(), request);
    korPacket answer;
    const AttributeStatus sent = transact(request, len, answer);
    if (sent != AttributeStatus::Ok) {
        return {sent, 0};
    }
    uint8_t valueLen = 0;
    if (packet::isReadOk(answer.dat, &valueLen)) {
        // Refuses more than VALUE_LEN bytes, leaving the attribute unchanged.
        if (attribute.setValue(answer.dat + packet::kAnswerHeaderLen, valueLen)) {
            return {AttributeStatus::Malformed, 0};
        }
        return {AttributeStatus::Ok, RC_OK};
    }
    if (packet::isRefusal(answer.dat, OP_ATT_VALUE_GET)) {
        return {AttributeStatus::Refused, answer.dat[2]};
    }
    return {AttributeStatus::Malformed, 0};
}

AttributeStatus KorService::transact(const uint8_t *request, size_t len, korPacket &answer) {
    if (device == nullptr || !device->isOpen()) {
        return device != nullptr && device->isGone() ? AttributeStatus::Gone
                                                     : AttributeStatus::NotOpen;
    }
    discardLateAnswer();
    const unsigned long link = device->openGeneration();
    uint8_t payload[packet::kMaxPacketLen];
    std::copy(request, request + len, payload);
    queue.clearInterrupt();
    awaitingAnswer.store(true);
    // The caller holds the link's call lock, so nobody closed it since the
    // test above: a refused write means hidapi's write failed, the device
    // is gone, and no answer can come.
    if (device->write(payload, static_cast<uint8_t>(len))) {
        awaitingAnswer.store(false);
        return AttributeStatus::Gone;
    }
    const bool answered = awaitAnswer(answer);
    awaitingAnswer.store(false);
    if (answered) {
        return AttributeStatus::Ok;
    }
    if (!device->isOpen()) {
        return AttributeStatus::Gone;
    }
    answerMayBeLate = true;
    lateAnswerLink = link;
    lateAnswerDeadline = steady_clock::now() + kor_service::kLateAnswerGrace;
    return AttributeStatus::NoAnswer;
}

// An interrupt means a read on the link failed. The receive thread may have
// made that read before this link was opened again, so an interrupt ends
// the wait only once the link is really gone; while the device is gone, the
// receive thread interrupts again at every poll.
bool KorService::awaitAnswer(korPacket &answer) {
    const steady_clock::time_point until = steady_clock::now() + kor_service::kAnswerTimeout;
    for (;;) {
        const steady_clock::duration left = until - steady_clock::now();
        if (left <= steady_clock::duration::zero()) {
            return false;
        }
        if (queue.pop(answer, std::chrono::ceil<std::chrono::milliseconds>(left))) {
            return true;
        }
        if (!device->isOpen()) {
            return false;
        }
    }
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
