// AttributeStatus: how one attribute transaction ended.
#ifndef KORVANE_ATTRIBUTESTATUS_H
#define KORVANE_ATTRIBUTESTATUS_H

#include <cstdint>

enum class AttributeStatus {
    Ok,         // the device answered and accepted the request
    NotOpen,    // no link to send on (never opened, or closed)
    NoAnswer,   // the request left, no answer came within the wait bound
    Refused,    // the device answered with a failing return code
    Malformed,  // an answer came that fits neither success nor refusal
    Gone,       // hidapi reported the device gone (unplugged)
};

// The status and, for Refused, the return code the device sent.
struct AttributeResult {
    AttributeStatus status;
    uint8_t returnCode;

    bool ok() const { return status == AttributeStatus::Ok; }
};

#endif
