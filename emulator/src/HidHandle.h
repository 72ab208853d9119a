// hidapi's opaque device handle, as the emulator defines it, and the
// enumeration records it hands out.
#ifndef KORVANE_EMU_HID_HANDLE_H
#define KORVANE_EMU_HID_HANDLE_H

#include <atomic>
#include <memory>

#include "ExportedApi.h"

#include "EmuDevice.h"

struct hid_device_ {
    std::shared_ptr<emu::EmuDevice> device;
    std::shared_ptr<emu::InputQueue> input;
    hid_device_info *info = nullptr;  // owned; what hid_get_device_info returns
    std::atomic<bool> nonblocking{false};
    // Texts of the last failure are string literals, so a pointer handed
    // out by hid_error stays valid whatever happens next.
    std::atomic<const wchar_t *> lastError{nullptr};

    ~hid_device_();
};

namespace emu {

// One record allocated with malloc, as hidapi's callers free it.
hid_device_info *makeDeviceInfo(const InterfaceRecord &record);
void freeDeviceInfo(hid_device_info *info);

}  // namespace emu

#endif
