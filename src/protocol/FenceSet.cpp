#include "FenceSet.h"

#include <algorithm>

namespace korvane {

using packet::AnswerShape;

void FenceSet::forget() {
    texts = {};
    last = kNone;
}

void FenceSet::learn(uint16_t attid, const uint8_t *answer) {
    uint8_t valueLen = 0;
    if (attid >= kTexts || !packet::isReadOk(answer, &valueLen) || valueLen == 0 ||
        valueLen > VALUE_LEN) {
        return;
    }
    AnswerValue &text = texts[attid];
    std::copy(answer + packet::kAnswerHeaderLen, answer + packet::kAnswerHeaderLen + valueLen,
              text.bytes.begin());
    text.length = valueLen;
}

bool FenceSet::sameText(int one, int other) const {
    return known(one) && known(other) && texts[one].length == texts[other].length &&
           std::equal(texts[one].bytes.begin(), texts[one].bytes.begin() + texts[one].length,
                      texts[other].bytes.begin());
}

bool FenceSet::couldBeOwnAnswer(int id, const AnswerShape &shape, uint16_t attid) const {
    return shape.opcode == OP_ATT_VALUE_GET && (id == attid || sameText(id, attid));
}

// Round the known texts, starting after the last fence, preferring one
// whose text differs from the last fence's.
int FenceSet::pick(const AnswerShape &shape, uint16_t attid) {
    int fallback = kNone;
    for (int step = 1; step <= kTexts; ++step) {
        const int id = (last + step + kTexts) % kTexts;
        if (!known(id) || couldBeOwnAnswer(id, shape, attid)) {
            continue;
        }
        if (!sameText(id, last)) {
            return last = id;
        }
        if (fallback == kNone) {
            fallback = id;
        }
    }
    if (fallback != kNone) {
        last = fallback;
    }
    return fallback;
}

bool FenceSet::isAnswerOf(int fence, const uint8_t *received) const {
    return known(fence) &&
           packet::isReadAnswerOf(received, texts[fence].bytes.data(), texts[fence].length);
}

bool FenceSet::isOtherFence(int fence, const AnswerShape &shape, uint16_t attid,
                            const uint8_t *received) const {
    for (int id = 0; id < kTexts; ++id) {
        if (id != fence && !sameText(id, fence) && !couldBeOwnAnswer(id, shape, attid) &&
            isAnswerOf(id, received)) {
            return true;
        }
    }
    return false;
}

}  // namespace korvane
