#include "Registry.h"

#include <cstdio>
#include <cstdlib>

#include "StateFile.h"

namespace emu {

Registry &Registry::instance() {
    static Registry *registry = [] {
        auto *r = new Registry;
        const char *statePath = std::getenv("KORVANE_EMU_STATE");
        if (statePath && *statePath) {
            r->startFromStateFile(statePath);
        } else {
            r->addConfiguredDevices(std::getenv("KORVANE_EMU_DEVICES"));
        }
        return r;
    }();
    return *registry;
}

int Registry::add(const std::string &model, const char *serial, const char *path) {
    const auto text = [](const char *s) {
        return s ? std::optional<std::string>(s) : std::nullopt;
    };
    std::lock_guard<std::mutex> lock(mutex);
    const int id = int(registeredDevices.size());
    auto device = EmuDevice::create(model, text(serial), text(path), size_t(id));
    if (!device) {
        return -1;
    }
    registeredDevices.push_back(std::move(device));
    return id;
}

std::shared_ptr<EmuDevice> Registry::find(int id) const {
    std::lock_guard<std::mutex> lock(mutex);
    if (id < 0 || size_t(id) >= registeredDevices.size()) {
        return nullptr;
    }
    return registeredDevices[size_t(id)];
}

std::vector<std::shared_ptr<EmuDevice>> Registry::all() const {
    std::lock_guard<std::mutex> lock(mutex);
    return registeredDevices;
}

int Registry::count() const {
    std::lock_guard<std::mutex> lock(mutex);
    return int(registeredDevices.size());
}

void Registry::reset() { replace({}); }

void Registry::replace(std::vector<std::shared_ptr<EmuDevice>> devices) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        registeredDevices.swap(devices);
    }
    for (const auto &device : devices) {
        device->retire();
    }
    lastError = nullptr;
}

// Only a process that used the emulator loads and saves the state: a shell
// or `env` that has the library preloaded but never calls it leaves the
// file to the programs it runs.
void Registry::startFromStateFile(const std::string &path) {
    bool missing = false, loaded = false;
    try {
        replace(loadStateFile(path, missing));
        loaded = true;
    } catch (const StateFileError &e) {
        const std::string fault = e.unreadable ? "cannot read the state file " + path
                                               : "the state file " + path + " is not valid";
        if (!missing) {
            std::fprintf(stderr,
                         "korvane-emu: %s: %s; starting from the default devices, the file is left "
                         "as it is\n",
                         fault.c_str(), e.reason.c_str());
        }
    }
    if (!loaded) {
        addConfiguredDevices(std::getenv("KORVANE_EMU_DEVICES"));
    }
    if (loaded || missing) {
        stateFilePath = path;
        std::atexit(saveAtExit);
    }
}

void Registry::saveAtExit() {
    Registry &r = instance();
    std::string error;
    if (!saveStateFile(r.stateFilePath, r.all(), error)) {
        std::fprintf(stderr, "korvane-emu: cannot save the state file %s: %s\n",
                     r.stateFilePath.c_str(), error.c_str());
    }
}

// "MODEL[:SERIAL[:PATH]]" entries separated by ';'. An empty serial means
// none; the path is the rest of the entry and may itself hold ':'.
void Registry::addConfiguredDevices(const char *deviceList) {
    if (!deviceList) {
        return;
    }
    const std::string text(deviceList);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string entry = text.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) {
            continue;
        }
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
                hasPath ? path.c_str() : nullptr) < 0) {
            std::fprintf(stderr, "korvane-emu: unknown model '%s' in KORVANE_EMU_DEVICES\n",
                         model.c_str());
        }
    }
}

}  // namespace emu
