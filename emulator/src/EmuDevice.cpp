#include "EmuDevice.h"

#include <algorithm>

#include "WideUtf8.h"

namespace emu {

EmuDevice::EmuDevice(std::unique_ptr<FirmwareModel> firmware, UsbIdentity usb) {
    state.firmware = std::move(firmware);
    state.usb = std::move(usb);
}

std::shared_ptr<EmuDevice> EmuDevice::create(const std::string &model,
                                             const std::optional<std::string> &serial,
                                             const std::optional<std::string> &path, size_t index) {
    auto firmware = FirmwareModel::create(model, serial.value_or(""));
    if (!firmware) {
        return nullptr;
    }
    UsbIdentity usb;
    usb.path = path.value_or("/dev/emu-hidraw" + std::to_string(index));
    if (serial) {
        usb.serial = korvane::utf8ToWide(*serial);
    }
    usb.product = korvane::utf8ToWide(model);
    usb.manufacturer = L"Korvane Emulated";
    return std::make_shared<EmuDevice>(std::move(firmware), std::move(usb));
}

void EmuDevice::listInterfaces(uint16_t vendorId, uint16_t productId,
                               std::vector<InterfaceRecord> &out) const {
    std::lock_guard<std::mutex> lock(mutex);
    const UsbIdentity &usb = state.usb;
    if (!plugged || retired || (vendorId && vendorId != usb.vendorId) ||
        (productId && productId != usb.productId)) {
        return;
    }
    for (int n = 0; n < usb.interfaces; ++n) {
        out.push_back(
            InterfaceRecord{usb, n, n == 0 ? usb.path : usb.path + ":" + std::to_string(n)});
    }
}

int EmuDevice::interfaceForPath(const std::string &path) const {
    std::lock_guard<std::mutex> lock(mutex);
    const UsbIdentity &usb = state.usb;
    if (path == usb.path) {
        return 0;
    }
    for (int n = 1; n < usb.interfaces; ++n) {
        if (path == usb.path + ":" + std::to_string(n)) {
            return n;
        }
    }
    return -1;
}

std::shared_ptr<InputQueue> EmuDevice::attach(int interfaceNumber, InterfaceRecord &record,
                                              const wchar_t *&error) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!plugged || retired || interfaceNumber >= state.usb.interfaces) {
        error = L"The device is not connected";
        return nullptr;
    }
    if (state.faults.refuseOpen) {
        error = L"Permission denied: the device refuses to be opened";
        return nullptr;
    }
    const UsbIdentity &usb = state.usb;
    record = InterfaceRecord{
        usb, interfaceNumber,
        interfaceNumber == 0 ? usb.path : usb.path + ":" + std::to_string(interfaceNumber)};
    handles.push_back(std::make_shared<InputQueue>());
    return handles.back();
}

void EmuDevice::detach(const std::shared_ptr<InputQueue> &input) {
    std::lock_guard<std::mutex> lock(mutex);
    handles.erase(std::remove(handles.begin(), handles.end(), input), handles.end());
}

int EmuDevice::openHandleCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return int(handles.size());
}

bool EmuDevice::receive(const InputQueue &from, const Report &report) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!plugged || retired || from.dead()) {
        return false;
    }
    const Request request = parseRequest(report);
    state.log.hostReport(report, request);
    Faults &faults = state.faults;
    if (faults.mute) {
        return true;  // the transfer went through; the firmware stays silent
    }

    // A one-shot delay comes on top of the standing one, for this request's
    // answer alone; answers queued later with an earlier ready time overtake it.
    auto delay = std::chrono::milliseconds(faults.answerDelayMs);
    if (faults.nextAnswerDelayMs) {
        delay += std::chrono::milliseconds(*faults.nextAnswerDelayMs);
        faults.nextAnswerDelayMs.reset();
    }
    const auto ready = InputQueue::Clock::now() + delay;
    const uint16_t attid = request.wellFormed ? request.attid : 0;
    for (int i = 0; i < faults.notificationsBeforeAnswer; ++i) {
        send(notification(attid), attid, ready);
    }

    // A raw answer or a failing attribute replaces the firmware's handling:
    // the request is not carried out. A raw answer goes out exactly as given.
    auto raw = request.wellFormed ? faults.rawAnswers.find(attid) : faults.rawAnswers.end();
    Report answer;
    if (raw != faults.rawAnswers.end()) {
        answer = raw->second;
    } else {
        answer = request.wellFormed && faults.failing.count(attid)
                     ? statusAnswer(request.opcode, false)
                     : state.firmware->answer(request);
        // The resize stays armed until a success answer uses it.
        if (faults.nextAnswerValueLength && isSuccessAnswer(answer)) {
            answer = resizedAnswer(answer, *faults.nextAnswerValueLength);
            faults.nextAnswerValueLength.reset();
        }
    }
    send(answer, attid, ready);
    if (faults.duplicateNextAnswer) {
        send(answer, attid, ready);  // same ready time: the copy follows at once
        faults.duplicateNextAnswer = false;
    }
    return true;
}

bool EmuDevice::inject(const Report &report) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!plugged || retired) {
        return false;
    }
    send(report, 0, InputQueue::Clock::now());
    return true;
}

bool EmuDevice::storeFeatureReport(uint8_t reportId, const Bytes &bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!plugged || retired) {
        return false;
    }
    featureReports[reportId] = bytes;
    return true;
}

bool EmuDevice::featureReport(uint8_t reportId, Bytes &out) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = featureReports.find(reportId);
    if (!plugged || retired || it == featureReports.end()) {
        return false;
    }
    out = it->second;
    return true;
}

void EmuDevice::unplug() {
    std::lock_guard<std::mutex> lock(mutex);
    plugged = false;
    killHandles();
}

bool EmuDevice::replug() {
    std::lock_guard<std::mutex> lock(mutex);
    if (retired) {
        return false;
    }
    plugged = true;  // handles from before the unplug stay dead
    return true;
}

void EmuDevice::retire() {
    std::lock_guard<std::mutex> lock(mutex);
    retired = true;
    killHandles();
}

void EmuDevice::send(const Report &report, uint16_t attid, InputQueue::Clock::time_point ready) {
    state.log.deviceReport(report, attid);
    for (const auto &input : handles) {
        input->push(report, ready);  // every open handle gets every input report, as with hidraw
    }
}

void EmuDevice::killHandles() {
    for (const auto &input : handles) {
        input->kill();
    }
}

}  // namespace emu
