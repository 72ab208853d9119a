// What the examples share: the words for how a call ended, opening the
// first attached device of a model (or the one with a given serial number)
// by its path, saying why that failed, and reading an identity text.
#ifndef KORVANE_EXAMPLE_REPORT_H
#define KORVANE_EXAMPLE_REPORT_H

#include <cstdio>
#include <string>

#include <korvane/korvane.h>

namespace example {

inline std::string describe(const korvane::AttributeResult &result) {
    switch (result.status) {
        case korvane::AttributeStatus::Ok: return "ok";
        case korvane::AttributeStatus::NotOpen: return "the device is not open";
        case korvane::AttributeStatus::NoAnswer: return "the device did not answer";
        case korvane::AttributeStatus::Refused:
            return "the device refused (return code " + std::to_string(result.returnCode) + ")";
        case korvane::AttributeStatus::Malformed: return "the device's answer was malformed";
        case korvane::AttributeStatus::Gone: return "the device is gone";
        case korvane::AttributeStatus::BadArgument: return "bad argument, nothing sent";
        case korvane::AttributeStatus::Unpaired: return "a stray answer came with it, none taken";
    }
    return "unknown status";
}

inline const char *describe(korvane::Connection::OpenStatus status) {
    switch (status) {
        case korvane::Connection::OpenStatus::Opened: return "opened";
        case korvane::Connection::OpenStatus::AlreadyOpen: return "already open";
        case korvane::Connection::OpenStatus::Unavailable: return "cannot be opened (no access?)";
        case korvane::Connection::OpenStatus::Busy: return "held open by another connection";
        case korvane::Connection::OpenStatus::OtherProduct: return "is another model";
    }
    return "unknown open status";
}

// Opens device on the first attached product (with serial, when not null);
// says on standard error why not and returns false when it cannot.
inline bool openModel(korvane::Connection &device, const char *product, const char *serial) {
    for (const korvane::AttachedDevice &attached : korvane::listAttachedDevices()) {
        if (attached.product != product || (serial != nullptr && attached.serial != serial)) {
            continue;
        }
        const korvane::Connection::OpenStatus status = device.open(attached.path);
        if (status == korvane::Connection::OpenStatus::Opened) {
            return true;
        }
        std::fprintf(stderr, "%s %s at %s: %s\n", product, attached.serial.c_str(),
                     attached.path.c_str(), describe(status));
        return false;
    }
    std::fprintf(stderr, "no %s%s%s attached\n", product, serial != nullptr ? " " : "",
                 serial != nullptr ? serial : "");
    return false;
}

// One identity text (ATT_PRODUCT_NAME, ATT_PRODUCT_SERIAL, ...) read from
// the device, or what happened instead, in brackets.
inline std::string identity(korvane::Connection &device, int attid) {
    const korvane::Outcome<std::string> text = device.identity(attid);
    return text.ok() ? text.value() : "(" + describe(text.result) + ")";
}

}  // namespace example

#endif
