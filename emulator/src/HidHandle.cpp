#include "HidHandle.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace emu {

namespace {
wchar_t *duplicate(const std::optional<std::wstring> &text) {
    if (!text) {
        return nullptr;
    }
    auto *copy = static_cast<wchar_t *>(std::calloc(text->size() + 1, sizeof(wchar_t)));
    if (copy) {
        std::wmemcpy(copy, text->c_str(), text->size());
    }
    return copy;
}
}  // namespace

hid_device_info *makeDeviceInfo(const InterfaceRecord &record) {
    auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
    if (!info) {
        return nullptr;
    }
    info->path = strdup(record.path.c_str());
    info->vendor_id = record.usb.vendorId;
    info->product_id = record.usb.productId;
    info->serial_number = duplicate(record.usb.serial);
    info->release_number = 0x0100;
    info->manufacturer_string = duplicate(record.usb.manufacturer);
    info->product_string = duplicate(record.usb.product);
    info->usage_page = 0xFF00;  // vendor-defined, as a raw report device declares
    info->usage = 0x0001;
    info->interface_number = record.number;
    info->next = nullptr;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

void freeDeviceInfo(hid_device_info *info) {
    if (!info) {
        return;
    }
    std::free(info->path);
    std::free(info->serial_number);
    std::free(info->manufacturer_string);
    std::free(info->product_string);
    std::free(info);
}

}  // namespace emu

hid_device_::~hid_device_() { emu::freeDeviceInfo(info); }
