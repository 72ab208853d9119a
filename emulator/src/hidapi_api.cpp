// The hidapi 0.13 C API served from the emulated devices. Behaves like the
// Linux hidraw backend where callers rely on it: one record per interface,
// 65-byte writes with report number 0, 64-byte reads without it, -1 once
// the device is gone.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "HidHandle.h"
#include "Registry.h"

using emu::Registry;

namespace {

void libraryError(const wchar_t *text) { Registry::instance().lastError = text; }

int deviceError(hid_device *dev, const wchar_t *text) {
    dev->lastError = text;
    return -1;
}

void ensureInitialised() { Registry::instance().initialised = true; }

hid_device *openInterface(const std::shared_ptr<emu::EmuDevice> &device, int interfaceNumber) {
    emu::InterfaceRecord record;
    const wchar_t *error = nullptr;
    std::shared_ptr<emu::InputQueue> input = device->attach(interfaceNumber, record, error);
    if (!input) {
        libraryError(error);
        return nullptr;
    }
    auto *dev = new hid_device;
    dev->device = device;
    dev->input = std::move(input);
    dev->info = emu::makeDeviceInfo(record);
    return dev;
}

int copyString(hid_device *dev, const wchar_t *text, wchar_t *string, size_t maxlen) {
    if (!string || maxlen == 0) {
        return deviceError(dev, L"Zero buffer/length");
    }
    if (text) {
        std::wcsncpy(string, text, maxlen);
        string[maxlen - 1] = L'\0';
    } else {
        string[0] = L'\0';
    }
    return 0;
}

}  // namespace

extern "C" {

int hid_init(void) {
    ensureInitialised();
    return 0;
}

// The devices outlive hid_exit: it only marks the library uninitialised, and
// the next call sets it up again. Open handles stay usable.
int hid_exit(void) {
    Registry::instance().initialised = false;
    return 0;
}

hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    ensureInitialised();
    std::vector<emu::InterfaceRecord> records;
    for (const auto &device : Registry::instance().all()) {
        device->listInterfaces(vendor_id, product_id, records);
    }
    hid_device_info *head = nullptr;
    hid_device_info **tail = &head;
    for (const auto &record : records) {
        *tail = emu::makeDeviceInfo(record);
        if (!*tail) {
            break;
        }
        tail = &(*tail)->next;
    }
    if (!head) {
        libraryError(L"No HID devices found in the system.");
    }
    return head;
}

void hid_free_enumeration(hid_device_info *devs) {
    while (devs) {
        hid_device_info *next = devs->next;
        emu::freeDeviceInfo(devs);
        devs = next;
    }
}

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t *serial_number) {
    ensureInitialised();
    // Like hidapi: the first matching interface is opened, and only that one
    // is tried.
    for (const auto &device : Registry::instance().all()) {
        std::vector<emu::InterfaceRecord> records;
        device->listInterfaces(vendor_id, product_id, records);
        for (const auto &record : records) {
            if (record.usb.vendorId != vendor_id || record.usb.productId != product_id) {
                continue;
            }
            if (serial_number && (!record.usb.serial || *record.usb.serial != serial_number)) {
                continue;
            }
            return openInterface(device, record.number);
        }
    }
    libraryError(L"Device with requested VID/PID/(SerialNumber) not found");
    return nullptr;
}

hid_device *hid_open_path(const char *path) {
    ensureInitialised();
    if (!path) {
        libraryError(L"Invalid path: null");
        return nullptr;
    }
    for (const auto &device : Registry::instance().all()) {
        const int number = device->interfaceForPath(path);
        if (number >= 0) {
            return openInterface(device, number);
        }
    }
    libraryError(L"No such device at this path");
    return nullptr;
}

int hid_write(hid_device *dev, const unsigned char *data, size_t length) {
    if (!dev) {
        return -1;
    }
    if (!data || length == 0) {
        return deviceError(dev, L"Zero buffer/length");
    }
    // Report number 0 is not sent on the wire; any other first byte belongs
    // to the report, as hidraw hands it to a device without numbered reports.
    const unsigned char *payload = data[0] == 0 ? data + 1 : data;
    const size_t payloadLength = data[0] == 0 ? length - 1 : length;
    if (payloadLength > emu::kReportSize) {
        return deviceError(dev, L"Report longer than the device's 64-byte output report");
    }
    if (!dev->device->receive(*dev->input, emu::makeReport(payload, payloadLength))) {
        return deviceError(dev, L"Device disconnected");
    }
    return int(length);
}

int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds) {
    if (!dev) {
        return -1;
    }
    if (!data) {
        return deviceError(dev, L"Zero buffer");
    }
    const int n = dev->input->read(data, length, milliseconds);
    if (n < 0) {
        return deviceError(dev, L"Device disconnected");
    }
    return n;
}

int hid_read(hid_device *dev, unsigned char *data, size_t length) {
    if (!dev) {
        return -1;
    }
    return hid_read_timeout(dev, data, length, dev->nonblocking ? 0 : -1);
}

int hid_set_nonblocking(hid_device *dev, int nonblock) {
    if (!dev) {
        return -1;
    }
    dev->nonblocking = nonblock != 0;
    return 0;
}

// Feature reports: the device keeps the last one sent under each report
// number and gives it back on request.
int hid_send_feature_report(hid_device *dev, const unsigned char *data, size_t length) {
    if (!dev) {
        return -1;
    }
    if (!data || length == 0) {
        return deviceError(dev, L"Zero buffer/length");
    }
    if (length > 1 + emu::kReportSize) {
        return deviceError(dev, L"Feature report longer than 64 bytes");
    }
    if (!dev->input->dead() &&
        dev->device->storeFeatureReport(data[0], emu::Bytes(data + 1, data + length))) {
        return int(length);
    }
    return deviceError(dev, L"Device disconnected");
}

int hid_get_feature_report(hid_device *dev, unsigned char *data, size_t length) {
    if (!dev) {
        return -1;
    }
    if (!data || length == 0) {
        return deviceError(dev, L"Zero buffer/length");
    }
    if (dev->input->dead()) {
        return deviceError(dev, L"Device disconnected");
    }
    emu::Bytes stored;
    if (!dev->device->featureReport(data[0], stored)) {
        return deviceError(dev, L"No feature report with this number");
    }
    const size_t n = std::min(length - 1, stored.size());
    std::copy(stored.begin(), stored.begin() + n, data + 1);
    return int(n + 1);
}

int hid_get_input_report(hid_device *dev, unsigned char *, size_t) {
    if (!dev) {
        return -1;
    }
    return deviceError(dev, L"The device does not answer input report requests");
}

void hid_close(hid_device *dev) {
    if (!dev) {
        return;
    }
    dev->device->detach(dev->input);
    delete dev;
}

int hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    if (!dev) {
        return -1;
    }
    return copyString(dev, dev->info ? dev->info->manufacturer_string : nullptr, string, maxlen);
}

int hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    if (!dev) {
        return -1;
    }
    return copyString(dev, dev->info ? dev->info->product_string : nullptr, string, maxlen);
}

int hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    if (!dev) {
        return -1;
    }
    return copyString(dev, dev->info ? dev->info->serial_number : nullptr, string, maxlen);
}

hid_device_info *hid_get_device_info(hid_device *dev) {
    if (!dev) {
        return nullptr;
    }
    return dev->info;
}

int hid_get_indexed_string(hid_device *dev, int, wchar_t *, size_t) {
    if (!dev) {
        return -1;
    }
    return deviceError(dev, L"hid_get_indexed_string: not supported by hidraw");
}

const wchar_t *hid_error(hid_device *dev) {
    return dev ? dev->lastError.load() : Registry::instance().lastError.load();
}

const hid_api_version *hid_version(void) {
    static const hid_api_version version = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                            HID_API_VERSION_PATCH};
    return &version;
}

const char *hid_version_str(void) { return HID_API_VERSION_STR; }

}  // extern "C"
