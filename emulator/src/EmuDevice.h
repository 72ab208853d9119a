// One emulated device: its USB identity, its firmware, the faults injected
// into it, its traffic log and the input queues of the handles open on it.
// One mutex guards all of it; a handle's queue has its own lock, always taken
// after this one.
#ifndef KORVANE_EMU_EMU_DEVICE_H
#define KORVANE_EMU_EMU_DEVICE_H

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FirmwareModel.h"
#include "InputQueue.h"
#include "TrafficLog.h"

namespace emu {

// The most HID interfaces a device may list.
constexpr int kMaxInterfaces = 16;

struct UsbIdentity {
    std::string path;
    uint16_t vendorId = 0x04D8;
    uint16_t productId = 0xECD0;
    std::optional<std::wstring> serial;
    std::optional<std::wstring> product;
    std::optional<std::wstring> manufacturer;
    int interfaces = 1;
};

// One HID interface as enumeration lists it.
struct InterfaceRecord {
    UsbIdentity usb;
    int number = 0;
    std::string path;  // "<path>" for interface 0, "<path>:<n>" for the others
};

struct Faults {
    bool refuseOpen = false;
    bool mute = false;
    int answerDelayMs = 0;
    int notificationsBeforeAnswer = 0;
    std::set<uint16_t> failing;
    std::map<uint16_t, Report> rawAnswers;
    // One-shot faults, each used up by the answer it changes.
    std::optional<int> nextAnswerDelayMs;         // the next answer comes this much later
    std::optional<size_t> nextAnswerValueLength;  // the next success answer's value length
    bool duplicateNextAnswer = false;             // the next answer goes out twice
};

// What the control API configures and inspects.
struct DeviceState {
    std::unique_ptr<FirmwareModel> firmware;
    UsbIdentity usb;
    Faults faults;
    TrafficLog log;
};

class EmuDevice {
public:
    EmuDevice(std::unique_ptr<FirmwareModel> firmware, UsbIdentity usb);
    EmuDevice(const EmuDevice &) = delete;
    // A device of this model as emu_add_device makes it: the serial number
    // (if any) in both firmware and USB identity, the path given or
    // /dev/emu-hidraw<index>, the model's name as product, "Korvane
    // Emulated" as manufacturer. Null for an unknown model.
    static std::shared_ptr<EmuDevice> create(const std::string &model,
                                             const std::optional<std::string> &serial,
                                             const std::optional<std::string> &path, size_t index);
    EmuDevice &operator=(const EmuDevice &) = delete;

    // Appends the interfaces of a plugged device matching the ids (0 = any).
    void listInterfaces(uint16_t vendorId, uint16_t productId,
                        std::vector<InterfaceRecord> &out) const;
    // The interface behind this path, -1 when the path is not this device's.
    int interfaceForPath(const std::string &path) const;

    // Opens a handle on an interface; null (with the reason in error) when
    // the device is unplugged or refuses.
    std::shared_ptr<InputQueue> attach(int interfaceNumber, InterfaceRecord &record,
                                       const wchar_t *&error);
    void detach(const std::shared_ptr<InputQueue> &input);
    int openHandleCount() const;

    // A report written by the host through the handle whose queue is from.
    // False when the device is gone for that handle.
    bool receive(const InputQueue &from, const Report &report);
    // A report the device sends on its own, now. False while unplugged.
    bool inject(const Report &report);

    bool storeFeatureReport(uint8_t reportId, const Bytes &bytes);
    bool featureReport(uint8_t reportId, Bytes &out) const;

    void unplug();
    bool replug();
    // Removed from the emulator for good: like an unplug that never ends.
    void retire();

    // Runs f(DeviceState&) under the device's lock.
    template <class F>
    auto with(F &&f) {
        std::lock_guard<std::mutex> lock(mutex);
        return f(state);
    }

private:
    void send(const Report &report, uint16_t attid, InputQueue::Clock::time_point ready);
    void killHandles();

    mutable std::mutex mutex;
    DeviceState state;
    bool plugged = true;
    bool retired = false;
    std::vector<std::shared_ptr<InputQueue>> handles;
    std::map<uint8_t, Bytes> featureReports;
};

}  // namespace emu

#endif
