#include "KorDeviceManager.h"

#include <hidapi.h>

#include "HidApi.h"
#include "HidapiState.h"
#include "WideUtf8.h"

namespace korvane {

std::string convertWcharToString(wchar_t *text) {
    std::string narrow;
    if (text == nullptr) {
        return narrow;
    }
    // Each unit keeps its low 8 bits: no code-page conversion, so a name
    // compares equal only to the same units (U+00E9 becomes byte 0xE9).
    for (const wchar_t *unit = text; *unit != 0; ++unit) {
        narrow.push_back(static_cast<char>(static_cast<unsigned long>(*unit) & 0xFF));
    }
    return narrow;
}

bool listedTextMatches(const wchar_t *listed, const std::string &wanted) {
    return korvane::wideToUtf8(listed) == wanted;
}

namespace {
bool hasProduct(const hid_device_info *record, const std::string &name) {
    return listedTextMatches(record->product_string, name);
}
}  // namespace

KorDeviceManager::KorDeviceManager() {
    for (hid_device_info *&list : deviceLists) {
        list = nullptr;
    }
    deviceLists[0] = enumerateAttached();
}

KorDeviceManager::~KorDeviceManager() {
    for (hid_device_info *list : deviceLists) {
        hidApi().free_enumeration(list);
    }
}

void KorDeviceManager::updateDeviceList() { replaceDeviceList(enumerateAttached()); }

hid_device_info *KorDeviceManager::enumerateAttached() {
    std::lock_guard<std::mutex> lock(hidapi_state::mutex());
    return hidApi().enumerate(USB_VID_PIC, USB_PID_PIC);
}

void KorDeviceManager::replaceDeviceList(hid_device_info *list) {
    hidApi().free_enumeration(deviceLists[0]);
    deviceLists[0] = list;
}

int KorDeviceManager::getDeviceNum() {
    int count = 0;
    for (hid_device_info *record = deviceLists[0]; record != nullptr; record = record->next) {
        ++count;
    }
    return count;
}

int KorDeviceManager::getDeviceNum(std::string name) {
    int count = 0;
    for (hid_device_info *list : deviceLists) {
        for (hid_device_info *record = list; record != nullptr; record = record->next) {
            if (hasProduct(record, name)) {
                ++count;
            }
        }
    }
    return count;
}

std::vector<std::string> KorDeviceManager::getDeviceList() {
    std::vector<std::string> names;
    for (hid_device_info *list : deviceLists) {
        for (hid_device_info *record = list; record != nullptr; record = record->next) {
            names.push_back(convertWcharToString(record->product_string));
        }
    }
    return names;
}

std::vector<std::string> KorDeviceManager::getSerialList(std::string name) {
    std::vector<std::string> serials;
    for (hid_device_info *list : deviceLists) {
        for (hid_device_info *record = list; record != nullptr; record = record->next) {
            if (hasProduct(record, name)) {
                serials.push_back(convertWcharToString(record->serial_number));
            }
        }
    }
    return serials;
}

char *KorDeviceManager::getPathByName(std::string name) {
    for (hid_device_info *list : deviceLists) {
        for (hid_device_info *record = list; record != nullptr; record = record->next) {
            if (hasProduct(record, name)) {
                return record->path;
            }
        }
    }
    return nullptr;
}

char *KorDeviceManager::getPathByNameAndSerial(std::string name, std::string serial) {
    for (hid_device_info *list : deviceLists) {
        for (hid_device_info *record = list; record != nullptr; record = record->next) {
            if (hasProduct(record, name) && listedTextMatches(record->serial_number, serial)) {
                return record->path;
            }
        }
    }
    return nullptr;
}

std::vector<AttachedDevice> listAttachedDevices(const std::optional<std::string> &product,
                                                const std::optional<std::string> &serial) {
    std::vector<AttachedDevice> found;
    hid_device_info *list = KorDeviceManager::enumerateAttached();
    for (const hid_device_info *record = list; record != nullptr; record = record->next) {
        if ((product && !listedTextMatches(record->product_string, *product)) ||
            (serial && !listedTextMatches(record->serial_number, *serial))) {
            continue;
        }
        found.push_back(AttachedDevice{record->path == nullptr ? "" : record->path,
                                       korvane::wideToUtf8(record->product_string),
                                       korvane::wideToUtf8(record->serial_number),
                                       korvane::wideToUtf8(record->manufacturer_string),
                                       record->release_number, record->interface_number});
    }
    hidApi().free_enumeration(list);
    return found;
}

}  // namespace korvane
