#include "KorService.h"

#include <algorithm>
#include <vector>

#include "CallGuard.h"
#include "FenceSet.h"
#include "PacketCodec.h"
#include "PacketQueue.h"
#include "PollTimer.h"
#include "ServiceAnchor.h"

namespace korvane {

using packet::AnswerShape;
using std::chrono::steady_clock;

namespace {
// A link that keeps sending reports cannot keep a transaction from starting.
const int kMostStaleReports = 256;

// How an answer that fits the request's shape ended.
AttributeResult judge(const korPacket &answer, const AnswerShape &shape) {
    if (!packet::fitsShape(answer.dat, shape)) {
        return {AttributeStatus::Malformed, 0};
    }
    if (answer.dat[2] != RC_OK) {
        return {AttributeStatus::Refused, answer.dat[2]};
    }
    return {AttributeStatus::Ok, RC_OK};
}
}  // namespace

// The parts of a service that its header does not show.
struct KorService::Impl {
    PacketQueue queue;
    FenceSet fences;
};

// If the thread cannot start, std::system_error leaves the constructor and
// the members made so far are destroyed again.
KorService::KorService(KorDevice *device) : KorService(device, Receive::Polling) {}

KorService::KorService(KorDevice *device, Receive receive)
    : device(device),
      receive(receive),
      stopRequested(false),
      closing(0),
      awaitingAnswer(false),
      impl(std::make_unique<Impl>()),
      anchorPoint(std::make_shared<ServiceAnchor>(this)),
      pairedLink(0),
      fencedUntil() {
    if (receive == Receive::Polling) {
        receiveThread = std::thread(&KorService::receiveLoop, this);
    }
}

KorService::~KorService() {
    // Blocks' calls in progress still need the receive thread; waiting ones
    // give up.
    beginClose();
    anchorPoint->retire();
    stopRequested.store(true);
    // A receive thread waiting for room in a full queue would never reach
    // its stop test; closing the queue makes that wait give up.
    impl->queue.close();
    if (receiveThread.joinable()) {
        receiveThread.join();
    }
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
        int got = -1;
        // A full queue is read no further until a transaction empties it;
        // only this thread queues, so the push below never waits.
        if (device != nullptr && impl->queue.waitForRoom()) {
            std::lock_guard<std::mutex> receiving(receiveMutex);
            got = device->read(received.dat);
            if (got > 0 && !packet::isNotification(received.dat)) {
                impl->queue.push(received);
            }
        }
        if (got < 0 && awaitingAnswer.load()) {
            // The link closed under a waiting transaction (the device is
            // gone): no answer can come, so the wait ends now.
            impl->queue.interrupt();
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
    uint8_t request[packet::kMaxPacketLen];
    const size_t len = packet::encodeWrite(attribute, request);
    korPacket answer;
    const uint16_t attid = static_cast<uint16_t>(request[2] << 8 | request[3]);
    return transact(request, len, attid, AnswerShape::write(), answer);
}

AttributeResult KorService::read(Attribute &attribute) {
    const Outcome<AnswerValue> got = readValue(attribute.getAttid(), 0, VALUE_LEN);
    if (got.ok()) {
        AnswerValue value = got.value();
        attribute.setValue(value.bytes.data(), value.length);
    }
    return got.result;
}

Outcome<AnswerValue> KorService::readValue(uint16_t attid, uint8_t minLen, uint8_t maxLen) {
    uint8_t request[packet::kMaxPacketLen];
    const size_t len = packet::encodeRead(attid, request);
    korPacket answer;
    const AttributeResult done =
        transact(request, len, attid, AnswerShape::read(minLen, maxLen), answer);
    if (!done.ok()) {
        return Outcome<AnswerValue>::failed(done);
    }
    AnswerValue value;
    value.length = static_cast<uint8_t>((answer.dat[0] & 0x3F) - packet::kAnswerHeaderLen);
    std::copy(answer.dat + packet::kAnswerHeaderLen,
              answer.dat + packet::kAnswerHeaderLen + value.length, value.bytes.begin());
    return Outcome<AnswerValue>{done, value};
}

AttributeResult KorService::transact(const uint8_t *request, size_t len, uint16_t attid,
                                     const AnswerShape &shape, korPacket &answer) {
    CallGuard call(device);
    if (device == nullptr || !device->isOpen()) {
        return {device != nullptr && device->isGone() ? AttributeStatus::Gone
                                                      : AttributeStatus::NotOpen,
                0};
    }
    // An answer to a request sent on an earlier open cannot arrive on this
    // one, and the device behind it may be another.
    const unsigned long link = device->openGeneration();
    if (link != pairedLink) {
        pairedLink = link;
        fencedUntil = steady_clock::time_point();
        impl->fences.forget();
    }
    // A dropped report is not counted as the late answer: it may be a stray
    // or a second copy, with the late one still to come.
    dropStaleReports();
    const int fence =
        steady_clock::now() < fencedUntil ? impl->fences.pick(shape, attid) : FenceSet::kNone;

    uint8_t payload[packet::kMaxPacketLen];
    std::copy(request, request + len, payload);
    impl->queue.clearInterrupt();
    awaitingAnswer.store(true);
    // The caller holds the link's call lock, so nobody closed it since the
    // test above: a refused write means hidapi's write failed, the device
    // is gone, and no answer can come.
    bool sendFailed = device->write(payload, static_cast<uint8_t>(len));
    if (!sendFailed && fence != FenceSet::kNone) {
        const size_t fenceLen = packet::encodeRead(static_cast<uint16_t>(fence), payload);
        sendFailed = device->write(payload, static_cast<uint8_t>(fenceLen));
    }
    if (sendFailed) {
        awaitingAnswer.store(false);
        return {AttributeStatus::Gone, 0};
    }
    AttributeResult done = fence == FenceSet::kNone ? takeAnswer(shape, answer)
                                                    : takeFencedAnswer(fence, shape, attid, answer);
    awaitingAnswer.store(false);
    if (done.status == AttributeStatus::NoAnswer && !device->isOpen()) {
        return {AttributeStatus::Gone, 0};
    }
    if (done.status == AttributeStatus::NoAnswer && receive == Receive::Waiting &&
        closing.load() > 0) {
        return {AttributeStatus::NotOpen, 0};  // given up for a close
    }
    if (done.ok() && shape.opcode == OP_ATT_VALUE_GET) {
        impl->fences.learn(attid, answer.dat);
    }
    return done;
}

// A report read here is dropped: it came while no call waited for one, and
// the next call would drop it all the same.
void KorService::checkLink() {
    if (receive != Receive::Waiting || device == nullptr) {
        return;
    }
    std::unique_lock<std::recursive_mutex> call(device->callMutex(), std::try_to_lock);
    if (call.owns_lock() && device->isOpen()) {
        korPacket stale;
        static_cast<void>(device->read(stale.dat));
    }
}

void KorService::dropStaleReports() {
    std::lock_guard<std::mutex> receiving(receiveMutex);
    impl->queue.clear();
    korPacket stale;
    int dropped = 0;
    while (dropped < kMostStaleReports && device->read(stale.dat) > 0) {
        ++dropped;
    }
}

AttributeResult KorService::takeAnswer(const AnswerShape &shape, korPacket &answer) {
    if (!awaitAnswer(answer, steady_clock::now() + kor_service::kAnswerTimeout)) {
        expectLateAnswer();
        return {AttributeStatus::NoAnswer, 0};
    }
    const AttributeResult done = judge(answer, shape);
    if (done.status == AttributeStatus::Malformed) {
        // It may have been a stray report, with the request's own answer
        // still to come.
        expectLateAnswer();
    }
    return done;
}

// Every answer before the fence's is the request's own or a late or stray
// one: with exactly one, it is the request's; with more, the one that fits
// the request, when only one does.
AttributeResult KorService::takeFencedAnswer(int fence, const AnswerShape &shape, uint16_t attid,
                                             korPacket &answer) {
    const steady_clock::time_point deadline = steady_clock::now() + kor_service::kAnswerTimeout;
    std::vector<korPacket> before;
    bool fenced = false;
    korPacket received;
    while (!fenced && awaitAnswer(received, deadline)) {
        if (impl->fences.isAnswerOf(fence, received.dat)) {
            fenced = true;
        } else if (impl->fences.isOtherFence(fence, shape, attid, received.dat)) {
            before.clear();  // an earlier fence's: what came before it is older still
        } else {
            before.push_back(received);
        }
    }
    if (!fenced || before.empty()) {
        expectLateAnswer();  // the request's own answer may still come
        return {AttributeStatus::NoAnswer, 0};
    }
    if (before.size() == 1) {
        answer = before.front();
        return judge(answer, shape);
    }
    // The answers that fit the request must all say the same (one answer and
    // its second copy, say): then whichever is its own, the value is right.
    const korPacket *taken = nullptr;
    for (const korPacket &candidate : before) {
        if (!packet::fitsShape(candidate.dat, shape)) {
            continue;
        }
        if (taken != nullptr && !packet::sameAnswer(taken->dat, candidate.dat)) {
            expectLateAnswer();
            return {AttributeStatus::Unpaired, 0};
        }
        taken = &candidate;
    }
    if (taken == nullptr) {
        expectLateAnswer();
        return {AttributeStatus::Unpaired, 0};
    }
    answer = *taken;
    return judge(answer, shape);
}

void KorService::expectLateAnswer() {
    fencedUntil = steady_clock::now() + kor_service::kLateAnswerHorizon;
}

// An interrupt means a read on the link failed. The receive thread may have
// made that read before this link was opened again, so an interrupt ends
// the wait only once the link is really gone; while the device is gone, the
// receive thread interrupts again at every poll.
bool KorService::awaitAnswer(korPacket &answer, steady_clock::time_point deadline) {
    if (receive == Receive::Waiting) {
        return readAnswer(answer, deadline);
    }
    for (;;) {
        const steady_clock::duration left = deadline - steady_clock::now();
        if (left <= steady_clock::duration::zero()) {
            return false;
        }
        if (impl->queue.pop(answer, std::chrono::ceil<std::chrono::milliseconds>(left))) {
            return true;
        }
        if (!device->isOpen()) {
            return false;
        }
    }
}

// The caller holds the call lock, which every close takes too: the link
// cannot be closed under the read, and a close waiting for the lock is seen
// within one slice.
bool KorService::readAnswer(korPacket &answer, steady_clock::time_point deadline) {
    for (;;) {
        const steady_clock::duration left = deadline - steady_clock::now();
        if (left <= steady_clock::duration::zero() || closing.load() > 0) {
            return false;
        }
        const auto slice =
            std::min(std::chrono::ceil<std::chrono::milliseconds>(left), kor_service::kWaitSlice);
        const int got = device->readWaiting(answer.dat, static_cast<int>(slice.count()));
        if (got < 0) {
            return false;
        }
        if (got > 0 && !packet::isNotification(answer.dat)) {
            return true;
        }
    }
}

}  // namespace korvane
