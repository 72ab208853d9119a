// Reads the first attached meter (or the one whose serial number is given)
// with the installed Korvane library: its identity, voltage, current and
// calibration offsets. A reading that fails is reported with what happened
// and the others are still read; the exit status is then 1.
//
//   cmake -S examples/cpp -B build-example -DCMAKE_PREFIX_PATH=<prefix>
//   cmake --build build-example && korvane-emu -- build-example/read_meter [SERIAL]
#include <cstdio>

#include <korvane/korvane.h>

#include "report.h"

int main(int argc, char **argv) {
    korvane::Meter meter;
    if (!example::openModel(meter, korvane::kor_product::kDmm, argc > 1 ? argv[1] : nullptr)) {
        return 2;
    }
    std::printf("%s %s, firmware %s\n", example::identity(meter, korvane::ATT_PRODUCT_NAME).c_str(),
                example::identity(meter, korvane::ATT_PRODUCT_SERIAL).c_str(),
                example::identity(meter, korvane::ATT_FIRM_VERSION).c_str());
    bool failed = false;

    const korvane::Outcome<float> voltage = meter.voltage();
    if (voltage.ok()) {
        std::printf("voltage: %.4f V\n", voltage.value());
    } else {
        std::printf("voltage: failed, %s\n", example::describe(voltage.result).c_str());
        failed = true;
    }
    const korvane::Outcome<float> current = meter.current();
    if (current.ok()) {
        std::printf("current: %.4f A\n", current.value());
    } else {
        std::printf("current: failed, %s\n", example::describe(current.result).c_str());
        failed = true;
    }
    const korvane::Outcome<korvane::Meter::CalibrationOffsets> offsets = meter.calibrationOffsets();
    if (offsets.ok()) {
        const korvane::Meter::CalibrationOffsets &o = offsets.value();
        std::printf(
            "calibration offsets: low current %d, high current %d, low voltage %d, "
            "high voltage %d\n",
            o.lowCurrent, o.highCurrent, o.lowVoltage, o.highVoltage);
    } else {
        std::printf("calibration offsets: failed, %s\n", example::describe(offsets.result).c_str());
        failed = true;
    }
    return failed ? 1 : 0;
}
