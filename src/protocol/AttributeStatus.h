// AttributeStatus: how one attribute transaction (or an operation made of
// several) ended; Outcome: that, and the value of an operation that reads.
#ifndef KORVANE_ATTRIBUTESTATUS_H
#define KORVANE_ATTRIBUTESTATUS_H

#include <cstdint>
#include <stdexcept>
#include <utility>

#include "export.h"

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

// Thrown by Outcome::value() when the operation failed: reading a value that
// was never read is a mistake in the caller, as is std::optional's value()
// on an empty optional.
class KORVANE_API BadOutcomeAccess : public std::logic_error {
public:
    explicit BadOutcomeAccess(AttributeStatus status)
        : std::logic_error("the value of a failed operation was read"), failed(status) {}
    // How the operation ended.
    AttributeStatus status() const { return failed; }

private:
    AttributeStatus failed;
};

// An operation's result and, when it is Ok, its value. The value is there to
// read only after ok(): value() throws BadOutcomeAccess otherwise, and
// valueOr() names the fallback, so a failure is never taken for a reading.
template <typename T>
class [[nodiscard]] Outcome {
public:
    Outcome(AttributeResult result, T value) : result(result), stored(std::move(value)) {}
    static Outcome failed(AttributeResult why) { return Outcome{why, T()}; }

    AttributeResult result;

    bool ok() const { return result.ok(); }
    AttributeStatus status() const { return result.status; }
    const T &value() const {
        if (!ok()) {
            throw BadOutcomeAccess(result.status);
        }
        return stored;
    }
    T valueOr(T fallback) const { return ok() ? stored : std::move(fallback); }

private:
    T stored;
};

}  // namespace korvane

#endif
