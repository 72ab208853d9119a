// AttributeStatus: how one attribute transaction (or an operation made of
// several) ended; Outcome: that, and the value of an operation that reads.
#ifndef KORVANE_ATTRIBUTESTATUS_H
#define KORVANE_ATTRIBUTESTATUS_H

#include <cstdint>

namespace korvane {

enum class AttributeStatus {
    Ok,           // the device answered and accepted the request
    NotOpen,      // no link to send on (never opened, or closed)
    NoAnswer,     // the request left, no answer came within the wait bound
    Refused,      // the device answered with a failing return code
    Malformed,    // an answer came that fits neither success nor refusal
    Gone,         // hidapi reported the device gone (unplugged)
    BadArgument,  // refused before anything was sent (a pin, port or width out of range)
    Unpaired,     // answers came, but a late or stray one with them: which is this
                  // request's cannot be told, so none is taken
};

// The status and, for Refused, the return code the device sent. A result
// dropped unread is a failure gone unnoticed: the compiler says so.
struct [[nodiscard]] AttributeResult {
    AttributeStatus status;
    uint8_t returnCode;

    bool ok() const { return status == AttributeStatus::Ok; }
};

// An operation's result and, when it is Ok, its value (otherwise the value
// is T's default).
template <typename T>
struct [[nodiscard]] Outcome {
    AttributeResult result;
    T value;

    bool ok() const { return result.ok(); }
    static Outcome failed(AttributeResult why) { return Outcome{why, T()}; }
};

}  // namespace korvane

#endif
