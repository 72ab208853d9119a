// FenceSet: the identity texts a connection knows the device's answers to,
// used as fences that tell this request's answer from late and stray ones.
//
// Answers carry no request id. When an earlier answer may still be on its
// way (its request's wait expired, or an answer came that did not fit), a
// transaction sends a fence, a read of an identity attribute whose answer
// is known to the byte, right after its own request. The device answers in
// the order it was asked, so the request's answer is the one that comes
// before the fence's. Consecutive fences read different texts, so the
// answer of an earlier fence whose wait expired is not taken for this one.
#ifndef KORVANE_FENCESET_H
#define KORVANE_FENCESET_H

#include <array>
#include <cstdint>

#include "AnswerValue.h"
#include "PacketCodec.h"

namespace korvane {

class FenceSet {
public:
    static constexpr int kNone = -1;

    // A new link: nothing is known of the device yet.
    void forget();
    // Records the answer of a successful read of attid (identity ids only;
    // others are ignored) that is known to be that read's own.
    void learn(uint16_t attid, const uint8_t *answer);
    // The fence for a request of shape on attid (kNone when no text is
    // known that the request's own answer could not also carry).
    int pick(const packet::AnswerShape &shape, uint16_t attid);
    bool isAnswerOf(int fence, const uint8_t *received) const;
    // True when received answers another known fence, which this request's
    // own answer cannot be: an earlier fence's answer, arriving late.
    bool isOtherFence(int fence, const packet::AnswerShape &shape, uint16_t attid,
                      const uint8_t *received) const;

private:
    static constexpr int kTexts = ATT_FIRM_VERSION + 1;

    bool known(int id) const { return id >= 0 && id < kTexts && texts[id].length > 0; }
    bool sameText(int one, int other) const;
    // Whether fence id could also be the answer of the request itself.
    bool couldBeOwnAnswer(int id, const packet::AnswerShape &shape, uint16_t attid) const;

    std::array<AnswerValue, kTexts> texts{};
    int last = kNone;
};

}  // namespace korvane

#endif
