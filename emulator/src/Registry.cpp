#include "Registry.h"

#include <cstdio>
#include <cstdlib>

#include "Json.h"
#include "StateFile.h"
#include "Utf8.h"

namespace emu {

Registry &Registry::instance() {
    static Registry *registry = [] {
        auto *r = new Registry;
        const char *statePath = std::getenv("KORVANE_EMU_STATE");
        if (statePath && *statePath)
            r->startFromStateFile(statePath);
        else
            r->addConfiguredDevices(std::getenv("KORVANE_EMU_DEVICES"));
        return r;
    }();
    return *registry;
}

int Registry::add(const std::string &model, const char *serial, const char *path) {
    auto firmware = FirmwareModel::create(model, serial ? serial : "");
    if (!firmware)
        return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    const int id = int(devices_.size());
    UsbIdentity usb;
    usb.path = path ? path : "/dev/emu-hidraw" + std::to_string(id);
    if (serial)
        usb.serial = wideFromUtf8(serial);
    usb.product = wideFromUtf8(model);
    usb.manufacturer = L"Korvane Emulated";
    devices_.push_back(std::make_shared<EmuDevice>(std::move(firmware), std::move(usb)));
    return id;
}

std::shared_ptr<EmuDevice> Registry::find(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id < 0 || size_t(id) >= devices_.size())
        return nullptr;
    return devices_[size_t(id)];
}

std::vector<std::shared_ptr<EmuDevice>> Registry::all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_;
}

int Registry::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(devices_.size());
}

void Registry::reset() {
    std::vector<std::shared_ptr<EmuDevice>> removed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        removed.swap(devices_);
    }
    for (const auto &device : removed)
        device->retire();  // open handles stay valid objects, but dead
    lastError = nullptr;
}

void Registry::replace(std::vector<std::shared_ptr<EmuDevice>> devices) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devices_.swap(devices);
    }
    for (const auto &device : devices)
        device->retire();
    lastError = nullptr;
}

// Only a process that used the emulator loads and saves the state: a shell
// or `env` that has the library preloaded but never calls it leaves the
// file to the programs it runs.
void Registry::startFromStateFile(const std::string &path) {
    std::string text, error;
    bool missing = false;
    if (!readStateFile(path, text, missing, error)) {
        if (missing) {
            addConfiguredDevices(std::getenv("KORVANE_EMU_DEVICES"));
            statePath_ = path;
            std::atexit(saveAtExit);
            return;
        }
        std::fprintf(stderr,
                     "korvane-emu: cannot read the state file %s: %s; starting from the default "
                     "devices, the file is left as it is\n",
                     path.c_str(), error.c_str());
        addConfiguredDevices(std::getenv("KORVANE_EMU_DEVICES"));
        return;
    }
    try {
        devices_ = devicesFromState(text);
    } catch (const std::exception &e) {
        std::fprintf(stderr,
                     "korvane-emu: the state file %s is not valid: %s; starting from the default "
                     "devices, the file is left as it is\n",
                     path.c_str(), e.what());
        addConfiguredDevices(std::getenv("KORVANE_EMU_DEVICES"));
        return;
    }
    statePath_ = path;
    std::atexit(saveAtExit);
}

void Registry::saveAtExit() {
    Registry &r = instance();
    std::string error;
    try {
        if (writeStateFile(r.statePath_, stateText(r.all()), error))
            return;
    } catch (const std::exception &e) {
        error = e.what();
    }
    std::fprintf(stderr, "korvane-emu: cannot save the state file %s: %s\n", r.statePath_.c_str(),
                 error.c_str());
}

// "MODEL[:SERIAL[:PATH]]" entries separated by ';'. An empty serial means
// none; the path is the rest of the entry and may itself hold ':'.
void Registry::addConfiguredDevices(const char *deviceList) {
    if (!deviceList)
        return;
    const std::string text(deviceList);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(start, end - start);
        start = end + 1;
        if (entry.empty())
            continue;
        const size_t c1 = entry.find(':');
        const std::string model = entry.substr(0, c1);
        std::string serial;
        std::string path;
        bool hasPath = false;
        if (c1 != std::string::npos) {
            const size_t c2 = entry.find(':', c1 + 1);
            serial =
                entry.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
            if (c2 != std::string::npos) {
                path = entry.substr(c2 + 1);
                hasPath = !path.empty();
            }
        }
        if (add(model, serial.empty() ? nullptr : serial.c_str(),
                hasPath ? path.c_str() : nullptr) < 0)
            std::fprintf(stderr, "korvane-emu: unknown model '%s' in KORVANE_EMU_DEVICES\n",
                         model.c_str());
    }
}

}  // namespace emu
