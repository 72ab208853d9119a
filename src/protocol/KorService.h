// KorService: attribute transactions over one device link, with the receive
// thread that collects the device's answers.
#ifndef KORVANE_KORSERVICE_H
#define KORVANE_KORSERVICE_H

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "AnswerValue.h"
#include "Attribute.h"
#include "AttributeStatus.h"
#include "KorDevice.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

// The library's own parts a service works with (see ServiceAnchor.h,
// korPacket.h and PacketCodec.h).
class ServiceAnchor;
struct korPacket;
namespace packet {
struct AnswerShape;
}  // namespace packet

class KORVANE_API KorService {
public:
#ifndef SWIG
    // How the device's answers are taken in. Polling: a receive thread
    // reads the link every millisecond, open or not, and queues what comes
    // for the transaction waiting on it. Waiting: no thread; a transaction
    // waits in the link's own blocking read and takes its answer the moment
    // it arrives, and a connection costs nothing between calls.
    enum class Receive {
        Polling,
        Waiting
    };
#endif

    // Starts the receive thread at once. Throws std::system_error when the
    // thread cannot be started. A null device behaves as a closed link.
    KorService(KorDevice *device);
#ifndef SWIG
    KorService(KorDevice *device, Receive receive);
#endif
    // Waits for the calls that blocks are making through this service.
    ~KorService();
    // false when the device confirmed the write, true otherwise.
    bool writeAttribute(Attribute attribute);
    // false when the answer's value was stored into attribute; on failure
    // attribute is unchanged.
    bool readAttribute(Attribute *attribute);

    // The same transactions, saying how they ended. A read stores the value
    // only when the result is Ok; it takes a value of any length up to
    // VALUE_LEN, over the attribute's leading bytes.
    AttributeResult write(const Attribute &attribute);
    AttributeResult read(Attribute &attribute);
    // A read whose answer must carry minLen to maxLen value bytes (anything
    // else is Malformed); the value holds exactly the bytes of this answer.
    Outcome<AnswerValue> readValue(uint16_t attid, uint8_t minLen, uint8_t maxLen);

#ifndef SWIG
    // Between these, a transaction that waits in the link's read (Waiting)
    // gives up within kWaitSlice: the link is being closed.
    void beginClose() { ++closing; }
    void endClose() { --closing; }
    // Waiting: no receive thread notices a device gone between calls, so a
    // question about the link reads it once, without waiting; a gone device
    // fails that read and the link says so. Skipped while a call is under
    // way (which notices by itself).
    void checkLink();
#endif

    // The link this service talks through (null for a service made without
    // one); its call lock guards multi-step operations built on the service.
    KorDevice *link() const { return device; }
    // What blocks hold to reach this service (see ServiceAnchor.h).
    const std::shared_ptr<ServiceAnchor> &anchor() const { return anchorPoint; }

private:
    KorService(const KorService &) = delete;
    KorService &operator=(const KorService &) = delete;
    void receiveLoop();
    // Sends request and takes the answer known to be its own, checked
    // against shape: Ok or Refused with the answer, or why there is none.
    AttributeResult transact(const uint8_t *request, size_t len, uint16_t attid,
                             const packet::AnswerShape &shape, korPacket &answer);
    // Drops every report that came since the last transaction, queued or
    // still in the link.
    void dropStaleReports();
    // The first answer after the request.
    AttributeResult takeAnswer(const packet::AnswerShape &shape, korPacket &answer);
    // The answer between the request and its fence's answer.
    AttributeResult takeFencedAnswer(int fence, const packet::AnswerShape &shape, uint16_t attid,
                                     korPacket &answer);
    // Waits until deadline for the next answer; false if none came or the
    // link went away (or is being closed) meanwhile.
    bool awaitAnswer(korPacket &answer, std::chrono::steady_clock::time_point deadline);
    bool readAnswer(korPacket &answer, std::chrono::steady_clock::time_point deadline);
    // A request ended without an answer known to be its own: its answer may
    // still arrive, so requests go out with a fence for a while.
    void expectLateAnswer();

    KorDevice *device;
    const Receive receive;
    std::atomic<bool> stopRequested;
    // Closes (and destructions) under way.
    std::atomic<int> closing;
    // Set while a transaction waits for its answer: if the link goes away
    // meanwhile, the receive thread interrupts the wait.
    std::atomic<bool> awaitingAnswer;
    // The queue between the receive thread and the transactions, and the
    // fences of the pairing state below (see KorService.cpp).
    struct Impl;
    std::unique_ptr<Impl> impl;
    // Held by the receive thread from its read of a report to the queuing
    // of it, and by a transaction while it drops stale reports: so no report
    // read before the drop is queued after it.
    std::mutex receiveMutex;
    std::shared_ptr<ServiceAnchor> anchorPoint;

    // Pairing state, guarded by the link's call lock (which read() and
    // write() hold: that also keeps transactions one at a time). It belongs
    // to one open of the link (pairedLink); a new open starts afresh.
    unsigned long pairedLink;
    // Until when requests go out with a fence: kLateAnswerHorizon after the
    // last request that ended without an answer known to be its own. Seeing
    // a report that might be the late answer does not end it early: it may
    // be a stray or a second copy, with the late answer still to come.
    std::chrono::steady_clock::time_point fencedUntil;

    // Last member: started once everything it uses is constructed (Polling
    // only).
    std::thread receiveThread;
};

namespace kor_service {
// How long a transaction waits for the device's answer.
constexpr std::chrono::milliseconds kAnswerTimeout{1000};
// How a call that waited kAnswerTimeout out in vain says so, naming the
// bound: "no answer within 1 s" (whole seconds), else "... within N ms".
// The Python package's NoAnswerError gives this text as its reason.
inline std::string noAnswerReason() {
    const auto ms = kAnswerTimeout.count();
    return "no answer within " +
           (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
}
// How long after a wait expired its answer is still expected: until then
// requests go out with a fence.
constexpr std::chrono::seconds kLateAnswerHorizon{30};
constexpr std::chrono::nanoseconds kPollInterval{1000000};
// The longest single blocking read of a Waiting transaction: how soon it
// notices a close.
constexpr std::chrono::milliseconds kWaitSlice{20};
}  // namespace kor_service

#ifndef SWIG
}  // namespace korvane
#endif

#endif
