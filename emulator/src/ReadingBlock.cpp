#include "ReadingBlock.h"

#include <cmath>

namespace emu {

namespace {
// JSON has no infinities or NaN: those readings are kept as text.
json::Value reading(float value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    return json::single(value);
}

float reading(const json::Value &v, const std::string &where) {
    if (v.is_string()) {
        const std::string &text = v.get_ref<const std::string &>();
        if (text == "nan") {
            return std::nanf("");
        }
        if (text == "inf" || text == "-inf") {
            return text == "inf" ? HUGE_VALF : -HUGE_VALF;
        }
    }
    if (!v.is_number()) {
        throw json::Error(where + ": expected a number (or \"nan\", \"inf\", \"-inf\")");
    }
    return json::singleOf(v, where);
}
}  // namespace

bool ReadingBlock::read(uint16_t, Bytes &out) {
    float value = readingBase;
    if (readingAmplitude != 0.0f && readingPeriodMs > 0) {
        const double t =
            std::chrono::duration<double, std::milli>(Clock::now() - variationStart).count();
        const double twoPi = 6.283185307179586;
        value = float(readingBase + readingAmplitude * std::sin(twoPi * t / readingPeriodMs));
    }
    out = floatLe(value);
    return true;
}

bool ReadingBlock::set(uint16_t, const Bytes &value) {
    if (value.size() != 4) {
        return false;
    }
    setVariation(floatFromLe(value), 0.0f, 0);
    return true;
}

void ReadingBlock::setVariation(float base, float amplitude, int periodMs) {
    readingBase = base;
    readingAmplitude = amplitude;
    readingPeriodMs = periodMs;
    variationStart = Clock::now();
}

json::Value ReadingBlock::saveState() const {
    return json::Value{{"base", reading(readingBase)},
                       {"amplitude", reading(readingAmplitude)},
                       {"period_ms", readingPeriodMs}};
}

void ReadingBlock::loadState(const json::Value &state, const std::string &where) {
    json::Fields f(state, where);
    float base = readingBase, amplitude = readingAmplitude;
    int periodMs = readingPeriodMs;
    if (const json::Value *v = f.get("base")) {
        base = reading(*v, f.at("base"));
    }
    if (const json::Value *v = f.get("amplitude")) {
        amplitude = reading(*v, f.at("amplitude"));
    }
    f.integer("period_ms", periodMs);
    if (periodMs < 0) {
        throw json::Error(f.at("period_ms") + ": expected a period of 0 ms or more");
    }
    f.finish();
    setVariation(base, amplitude, periodMs);
}

}  // namespace emu
