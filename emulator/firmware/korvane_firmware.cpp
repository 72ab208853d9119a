// The C API of korvane_firmware.h: one firmware model behind each handle,
// guarded by its own lock so a harness thread answering reports and a test
// setting values may share it.
#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

#include "FirmwareModel.h"

#pragma GCC visibility push(default)
#include "korvane_firmware.h"
#pragma GCC visibility pop

struct kfw_model {
    std::mutex mutex;
    std::unique_ptr<emu::FirmwareModel> firmware;
};

namespace {

static_assert(KFW_REPORT_SIZE == emu::kReportSize, "reports are 64 bytes on both sides");

// Runs f(FirmwareModel&) under the model's lock; -1 for a null handle.
template <class F>
int withModel(kfw_model *model, F &&f) {
    if (!model) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(model->mutex);
    return f(*model->firmware);
}

int status(bool ok) { return ok ? 0 : -1; }

}  // namespace

extern "C" {

kfw_model *kfw_create(const char *product, const char *serial) {
    if (!product) {
        return nullptr;
    }
    try {
        auto firmware = emu::FirmwareModel::create(product, serial ? serial : "");
        if (!firmware) {
            return nullptr;
        }
        auto model = std::make_unique<kfw_model>();
        model->firmware = std::move(firmware);
        return model.release();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void kfw_destroy(kfw_model *model) { delete model; }

int kfw_handle_report(kfw_model *model, const uint8_t *report, uint8_t *answers, int capacity) {
    if (!report || !answers || capacity < 1) {
        return -1;
    }
    return withModel(model, [&](emu::FirmwareModel &fw) {
        const emu::Report answer =
            fw.answer(emu::parseRequest(emu::makeReport(report, emu::kReportSize)));
        std::copy(answer.begin(), answer.end(), answers);
        return 1;  // the firmware answers every request exactly once
    });
}

int kfw_set_attribute(kfw_model *model, uint16_t attid, const uint8_t *value, int len) {
    if (len < 0 || (len > 0 && !value)) {
        return -1;
    }
    const emu::Bytes bytes(value, value + len);
    return withModel(model,
                     [&](emu::FirmwareModel &fw) { return status(fw.setAttribute(attid, bytes)); });
}

int kfw_get_attribute(kfw_model *model, uint16_t attid, uint8_t *out, int capacity) {
    return withModel(model, [&](emu::FirmwareModel &fw) {
        emu::Bytes value;
        if (!fw.readAttribute(attid, value) || capacity < int(value.size()) ||
            (!out && !value.empty())) {
            return -1;
        }
        std::copy(value.begin(), value.end(), out);
        return int(value.size());
    });
}

int kfw_set_adc(kfw_model *model, int channel, uint32_t value) {
    if (channel < 0 || channel >= emu::AdcBlock::kChannels) {
        return -1;
    }
    return withModel(model, [&](emu::FirmwareModel &fw) {
        if (!fw.adc()) {
            return -1;
        }
        fw.adc()->setChannel(channel, value);
        return 0;
    });
}

int kfw_set_reading(kfw_model *model, uint16_t attid, float base, float amplitude, int period_ms) {
    if (period_ms < 0) {
        return -1;
    }
    return withModel(model, [&](emu::FirmwareModel &fw) {
        emu::ReadingBlock *reading = fw.reading(attid);
        if (!reading) {
            return -1;
        }
        reading->setVariation(base, amplitude, period_ms);
        return 0;
    });
}

int kfw_set_i2c_register(kfw_model *model, uint8_t address, uint8_t reg, uint16_t value) {
    return withModel(model, [&](emu::FirmwareModel &fw) {
        emu::I2cBridge::RegisterFile *regs = fw.i2c() ? fw.i2c()->target(address) : nullptr;
        if (!regs) {
            return -1;
        }
        (*regs)[reg] = value;
        return 0;
    });
}

int kfw_get_i2c_register(kfw_model *model, uint8_t address, uint8_t reg) {
    return withModel(model, [&](emu::FirmwareModel &fw) {
        emu::I2cBridge::RegisterFile *regs = fw.i2c() ? fw.i2c()->target(address) : nullptr;
        return regs ? int((*regs)[reg]) : -1;
    });
}

}  // extern "C"
