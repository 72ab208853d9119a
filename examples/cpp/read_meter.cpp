// Reads the first attached meter (or the one whose serial number is given)
// with the installed Korvane library: its identity, voltage and current.
//
//   cmake -S examples/cpp -B build-example -DCMAKE_PREFIX_PATH=<prefix>
//   cmake --build build-example && build-example/read_meter [SERIAL]
#include <cstdio>
#include <string>

#include <korvane/korvane.h>

namespace {
const char *describe(korvane::AttributeStatus status) {
    switch (status) {
    case korvane::AttributeStatus::Ok: return "ok";
    case korvane::AttributeStatus::NotOpen: return "the meter is not open";
    case korvane::AttributeStatus::NoAnswer: return "the meter did not answer";
    case korvane::AttributeStatus::Refused: return "the meter refused the request";
    case korvane::AttributeStatus::Malformed: return "the meter's answer was malformed";
    case korvane::AttributeStatus::Gone: return "the meter is gone";
    case korvane::AttributeStatus::BadArgument: return "bad argument";
    }
    return "unknown";
}
}  // namespace

int main(int argc, char **argv) {
    korvane::Dmm meter;
    const bool failed = argc > 1 ? meter.open(std::string(argv[1])) : meter.open();
    if (failed) {
        std::fprintf(stderr, "no meter attached\n");
        return 2;
    }
    std::printf("%s %s, firmware %s\n", meter.getProductName().c_str(),
                meter.getProductSerial().c_str(), meter.getFirmVersion().c_str());
    const korvane::Outcome<float> voltage = meter.voltageReading();
    const korvane::Outcome<float> current = meter.currentReading();
    if (!voltage.ok() || !current.ok()) {
        std::fprintf(stderr, "reading failed: %s\n",
                     describe(voltage.ok() ? current.result.status : voltage.result.status));
        return 1;
    }
    std::printf("voltage: %.4f V\ncurrent: %.4f A\n", voltage.value, current.value);
    return 0;
}
