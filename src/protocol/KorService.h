// KorService: attribute transactions over one device link, with the receive
// thread that collects the device's answers.
#ifndef KORVANE_KORSERVICE_H
#define KORVANE_KORSERVICE_H

#include <atomic>
#include <chrono>
#include <thread>

#include "Attribute.h"
#include "AttributeStatus.h"
#include "KorDevice.h"
#include "PacketQueue.h"

class KorService {
public:
    // Starts the receive thread at once. Throws std::system_error when the
    // thread cannot be started. A null device behaves as a closed link.
    KorService(KorDevice *device);
    ~KorService();
    // false when the device confirmed the write, true otherwise.
    bool writeAttribute(Attribute attribute);
    // false when the answer's value was stored into attribute; on failure
    // attribute is unchanged.
    bool readAttribute(Attribute *attribute);

    // The same transactions, saying how they ended. A read stores the value
    // only when the result is Ok.
    AttributeResult write(const Attribute &attribute);
    AttributeResult read(Attribute &attribute);

    // The link this service talks through (null for a service made without
    // one); its call lock guards multi-step operations built on the service.
    KorDevice *link() const { return device; }

private:
    KorService(const KorService &) = delete;
    KorService &operator=(const KorService &) = delete;
    void receiveLoop();
    // Sends request and takes the next queued answer: Ok, or why no answer
    // came (NotOpen, NoAnswer within the wait bound, Gone).
    AttributeStatus transact(const uint8_t *request, size_t len, korPacket &answer);
    // Waits up to the wait bound for the answer; false if none came or the
    // link went away meanwhile.
    bool awaitAnswer(korPacket &answer);
    // Drops an answer that may still belong to a request whose wait expired.
    void discardLateAnswer();

    KorDevice *device;
    std::atomic<bool> stopRequested;
    // Set while a transaction waits for its answer: if the link goes away
    // meanwhile, the receive thread interrupts the wait.
    std::atomic<bool> awaitingAnswer;
    PacketQueue queue;
    // Set when a wait for an answer expired: the late answer may still
    // arrive, so the next transaction drops it before it sends. Like
    // lateAnswerDeadline and lateAnswerLink, guarded by the link's call
    // lock, which read() and write() hold: that also keeps transactions one
    // at a time, since an answer is paired with its request only by arrival
    // order.
    bool answerMayBeLate;
    // Until when an answer that arrives is taken as that late answer.
    std::chrono::steady_clock::time_point lateAnswerDeadline;
    // The link's open generation the late answer was asked on.
    unsigned long lateAnswerLink;
    // Last member: started once everything it uses is constructed.
    std::thread receiveThread;
};

// How long a transaction waits for the device's answer.
namespace kor_service {
constexpr std::chrono::milliseconds kAnswerTimeout{1000};
// After a wait expired, how much longer its answer is still expected: the
// next transaction drops an answer arriving within this grace instead of
// taking it as its own.
constexpr std::chrono::milliseconds kLateAnswerGrace{500};
constexpr std::chrono::nanoseconds kPollInterval{1000000};
}  // namespace kor_service

#endif
