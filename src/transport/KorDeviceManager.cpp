#include "KorDeviceManager.h"

#include <hidapi.h>

#include "HidapiState.h"

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

namespace {
bool hasProduct(const hid_device_info *record, const std::string &name) {
    return convertWcharToString(record->product_string) == name;
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
        hid_free_enumeration(list);
    }
}

void KorDeviceManager::updateDeviceList() { replaceDeviceList(enumerateAttached()); }

hid_device_info *KorDeviceManager::enumerateAttached() {
    std::lock_guard<std::mutex> lock(hidapi_state::mutex());
    return hid_enumerate(USB_VID_PIC, USB_PID_PIC);
}

void KorDeviceManager::replaceDeviceList(hid_device_info *list) {
    hid_free_enumeration(deviceLists[0]);
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
            if (hasProduct(record, name) &&
                convertWcharToString(record->serial_number) == serial) {
                return record->path;
            }
        }
    }
    return nullptr;
}
