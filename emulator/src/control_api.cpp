// The control API of korvane_emu.h: adding devices, setting their state,
// injecting faults and reading their traffic logs.
#include <algorithm>
#include <cstring>

#include "ExportedApi.h"
#include "Registry.h"
#include "StateFile.h"

using emu::Bytes;
using emu::DeviceState;
using emu::Registry;

namespace {

// Runs f(DeviceState&) under the device's lock; -1 for an unknown device.
template <class F>
int withDevice(int id, F &&f) {
    std::shared_ptr<emu::EmuDevice> device = Registry::instance().find(id);
    if (!device) {
        return -1;
    }
    return device->with(std::forward<F>(f));
}

int status(bool ok) { return ok ? 0 : -1; }

// Why this thread's last emu_save_state or emu_load_state failed.
thread_local std::string stateError;

int stateStatus(bool ok, std::string error) {
    stateError = ok ? std::string() : std::move(error);
    return status(ok);
}

std::optional<std::wstring> optionalText(const wchar_t *text) {
    return text ? std::optional<std::wstring>(text) : std::nullopt;
}

}  // namespace

extern "C" {

void emu_reset(void) { Registry::instance().reset(); }

int emu_add_device(const char *model, const char *serial, const char *path) {
    if (!model) {
        return -1;
    }
    return Registry::instance().add(model, serial, path);
}

int emu_device_count(void) { return Registry::instance().count(); }

int emu_get_path(int dev, char *out, int capacity) {
    return withDevice(dev, [&](DeviceState &s) {
        const std::string &path = s.usb.path;
        if (!out || capacity <= int(path.size())) {
            return -1;
        }
        std::memcpy(out, path.c_str(), path.size() + 1);
        return int(path.size());
    });
}

int emu_set_ids(int dev, uint16_t vendor_id, uint16_t product_id) {
    return withDevice(dev, [&](DeviceState &s) {
        s.usb.vendorId = vendor_id;
        s.usb.productId = product_id;
        return 0;
    });
}

int emu_set_product_string(int dev, const wchar_t *product) {
    return withDevice(dev, [&](DeviceState &s) {
        s.usb.product = optionalText(product);
        return 0;
    });
}

int emu_set_serial_string(int dev, const wchar_t *serial) {
    return withDevice(dev, [&](DeviceState &s) {
        s.usb.serial = optionalText(serial);
        return 0;
    });
}

int emu_set_manufacturer_string(int dev, const wchar_t *manufacturer) {
    return withDevice(dev, [&](DeviceState &s) {
        s.usb.manufacturer = optionalText(manufacturer);
        return 0;
    });
}

int emu_set_interface_count(int dev, int count) {
    if (count < 1 || count > emu::kMaxInterfaces) {
        return -1;
    }
    return withDevice(dev, [&](DeviceState &s) {
        s.usb.interfaces = count;
        return 0;
    });
}

int emu_set_attribute(int dev, uint16_t attid, const uint8_t *value, int len) {
    if (len < 0 || (len > 0 && !value)) {
        return -1;
    }
    const Bytes bytes(value, value + len);
    return withDevice(
        dev, [&](DeviceState &s) { return status(s.firmware->setAttribute(attid, bytes)); });
}

int emu_get_attribute(int dev, uint16_t attid, uint8_t *out, int capacity) {
    return withDevice(dev, [&](DeviceState &s) {
        Bytes value;
        if (!s.firmware->readAttribute(attid, value) || capacity < int(value.size()) ||
            (!out && !value.empty())) {
            return -1;
        }
        std::copy(value.begin(), value.end(), out);
        return int(value.size());
    });
}

int emu_remove_attribute(int dev, uint16_t attid) {
    return withDevice(dev, [&](DeviceState &s) {
        s.firmware->removeAttribute(attid);
        return 0;
    });
}

int emu_set_gpio_external(int dev, uint32_t driven_mask, uint32_t levels) {
    return withDevice(dev, [&](DeviceState &s) {
        emu::GpioBlock *gpio = s.firmware->gpio();
        if (!gpio) {
            return -1;
        }
        gpio->setExternal(driven_mask, levels);
        return 0;
    });
}

int emu_set_adc(int dev, int channel, uint32_t value) {
    if (channel < 0 || channel >= emu::AdcBlock::kChannels) {
        return -1;
    }
    return withDevice(dev, [&](DeviceState &s) {
        emu::AdcBlock *adc = s.firmware->adc();
        if (!adc) {
            return -1;
        }
        adc->setChannel(channel, value);
        return 0;
    });
}

int emu_add_i2c_target(int dev, uint8_t address) {
    return withDevice(dev, [&](DeviceState &s) {
        emu::I2cBridge *i2c = s.firmware->i2c();
        return status(i2c && i2c->addTarget(address));
    });
}

int emu_remove_i2c_target(int dev, uint8_t address) {
    return withDevice(dev, [&](DeviceState &s) {
        emu::I2cBridge *i2c = s.firmware->i2c();
        return status(i2c && i2c->removeTarget(address));
    });
}

int emu_set_i2c_register(int dev, uint8_t address, uint8_t reg, uint16_t value) {
    return withDevice(dev, [&](DeviceState &s) {
        emu::I2cBridge::RegisterFile *regs =
            s.firmware->i2c() ? s.firmware->i2c()->target(address) : nullptr;
        if (!regs) {
            return -1;
        }
        (*regs)[reg] = value;
        return 0;
    });
}

int emu_get_i2c_register(int dev, uint8_t address, uint8_t reg) {
    return withDevice(dev, [&](DeviceState &s) {
        emu::I2cBridge::RegisterFile *regs =
            s.firmware->i2c() ? s.firmware->i2c()->target(address) : nullptr;
        return regs ? int((*regs)[reg]) : -1;
    });
}

int emu_set_reading(int dev, uint16_t attid, float base, float amplitude, int period_ms) {
    if (period_ms < 0) {
        return -1;
    }
    return withDevice(dev, [&](DeviceState &s) {
        emu::ReadingBlock *reading = s.firmware->reading(attid);
        if (!reading) {
            return -1;
        }
        reading->setVariation(base, amplitude, period_ms);
        return 0;
    });
}

int emu_set_calibration(int dev, int8_t low_current, int8_t high_current, int8_t low_voltage,
                        int8_t high_voltage) {
    return withDevice(dev, [&](DeviceState &s) {
        emu::CalibrationBlock *calibration = s.firmware->calibration();
        if (!calibration) {
            return -1;
        }
        calibration->setOffsets({low_current, high_current, low_voltage, high_voltage});
        return 0;
    });
}

int emu_calibration_count(int dev) {
    return withDevice(dev, [&](DeviceState &s) {
        emu::CalibrationBlock *calibration = s.firmware->calibration();
        return calibration ? calibration->runs() : -1;
    });
}

int emu_set_refuse_open(int dev, int refuse) {
    return withDevice(dev, [&](DeviceState &s) {
        s.faults.refuseOpen = refuse != 0;
        return 0;
    });
}

int emu_set_mute(int dev, int mute) {
    return withDevice(dev, [&](DeviceState &s) {
        s.faults.mute = mute != 0;
        return 0;
    });
}

int emu_set_answer_delay(int dev, int delay_ms) {
    if (delay_ms < 0) {
        return -1;
    }
    return withDevice(dev, [&](DeviceState &s) {
        s.faults.answerDelayMs = delay_ms;
        return 0;
    });
}

int emu_set_fail_attribute(int dev, uint16_t attid, int fail) {
    return withDevice(dev, [&](DeviceState &s) {
        if (fail) {
            s.faults.failing.insert(attid);
        } else {
            s.faults.failing.erase(attid);
        }
        return 0;
    });
}

int emu_set_raw_answer(int dev, uint16_t attid, const uint8_t *bytes, int len) {
    if (len > int(emu::kReportSize) || (len > 0 && !bytes)) {
        return -1;
    }
    return withDevice(dev, [&](DeviceState &s) {
        if (len < 0) {
            s.faults.rawAnswers.erase(attid);
        } else {
            s.faults.rawAnswers[attid] = emu::makeReport(bytes, size_t(len));
        }
        return 0;
    });
}

int emu_set_notifications_before_answer(int dev, int count) {
    if (count < 0 || count > 1000) {
        return -1;
    }
    return withDevice(dev, [&](DeviceState &s) {
        s.faults.notificationsBeforeAnswer = count;
        return 0;
    });
}

int emu_inject_report(int dev, const uint8_t *bytes, int len) {
    if (len < 0 || len > int(emu::kReportSize) || (len > 0 && !bytes)) {
        return -1;
    }
    std::shared_ptr<emu::EmuDevice> device = Registry::instance().find(dev);
    return device ? status(device->inject(emu::makeReport(bytes, size_t(len)))) : -1;
}

int emu_delay_next_answer(int dev, int delay_ms) {
    if (delay_ms < 0 || delay_ms > 600000) {
        return -1;
    }
    return withDevice(dev, [&](DeviceState &s) {
        s.faults.nextAnswerDelayMs = delay_ms;
        return 0;
    });
}

int emu_resize_next_answer(int dev, int value_len) {
    if (value_len < 0 || value_len > int(emu::kMaxResizedValue)) {
        return -1;
    }
    return withDevice(dev, [&](DeviceState &s) {
        s.faults.nextAnswerValueLength = size_t(value_len);
        return 0;
    });
}

int emu_duplicate_next_answer(int dev) {
    return withDevice(dev, [&](DeviceState &s) {
        s.faults.duplicateNextAnswer = true;
        return 0;
    });
}

int emu_unplug(int dev) {
    std::shared_ptr<emu::EmuDevice> device = Registry::instance().find(dev);
    if (!device) {
        return -1;
    }
    device->unplug();
    return 0;
}

int emu_replug(int dev) {
    std::shared_ptr<emu::EmuDevice> device = Registry::instance().find(dev);
    return device ? status(device->replug()) : -1;
}

int emu_log_count(int dev) {
    return withDevice(dev, [&](DeviceState &s) { return s.log.count(); });
}

int emu_log_get(int dev, int index, struct emu_log_entry *out) {
    if (!out) {
        return -1;
    }
    return withDevice(dev, [&](DeviceState &s) { return status(s.log.get(index, *out)); });
}

int emu_log_clear(int dev) {
    return withDevice(dev, [&](DeviceState &s) {
        s.log.clear();
        return 0;
    });
}

int emu_save_state(const char *path) {
    if (!path || !*path) {
        return stateStatus(false, "no path given");
    }
    std::string error;
    const bool ok = emu::saveStateFile(path, Registry::instance().all(), error);
    return stateStatus(ok, error);
}

int emu_load_state(const char *path) {
    if (!path || !*path) {
        return stateStatus(false, "no path given");
    }
    try {
        bool missing = false;
        Registry::instance().replace(emu::loadStateFile(path, missing));
        return stateStatus(true, {});
    } catch (const std::exception &e) {
        return stateStatus(false, e.what());
    }
}

int emu_state_error(char *out, int capacity) {
    if (out && capacity > 0) {
        const size_t n = std::min(stateError.size(), size_t(capacity - 1));
        std::memcpy(out, stateError.data(), n);
        out[n] = '\0';
    }
    return int(stateError.size());
}

int emu_open_handle_count(void) {
    int count = 0;
    for (const auto &device : Registry::instance().all()) {
        count += device->openHandleCount();
    }
    return count;
}

}  // extern "C"
