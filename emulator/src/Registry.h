// The process-wide set of emulated devices and the library's own state
// (initialised flag, last library-level error). Devices are numbered in the
// order they were added; emu_reset starts the numbering again.
#ifndef KORVANE_EMU_REGISTRY_H
#define KORVANE_EMU_REGISTRY_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EmuDevice.h"

namespace emu {

class Registry {
public:
    // Never destroyed, so that threads still calling in at process exit
    // find it intact. The first call adds the devices of the state file
    // named in KORVANE_EMU_STATE when that file exists, else those named in
    // KORVANE_EMU_DEVICES; with KORVANE_EMU_STATE set, the devices are saved
    // to the file at process exit.
    static Registry &instance();

    // The id of the new device, -1 for an unknown model.
    int add(const std::string &model, const char *serial, const char *path);
    std::shared_ptr<EmuDevice> find(int id) const;
    std::vector<std::shared_ptr<EmuDevice>> all() const;
    int count() const;
    void reset();
    // Puts these devices in place of the current ones (which turn dead, as
    // after reset), numbered in order from 0.
    void replace(std::vector<std::shared_ptr<EmuDevice>> devices);

    std::atomic<bool> initialised{false};
    std::atomic<const wchar_t *> lastError{nullptr};

private:
    Registry() = default;
    void addConfiguredDevices(const char *deviceList);
    // The devices of the state file, or the configured ones when it is
    // missing or cannot be read (then it is left as it is, not saved).
    void startFromStateFile(const std::string &path);
    static void saveAtExit();

    std::string stateFilePath;  // set once, before any other thread sees the registry

    mutable std::mutex mutex;
    std::vector<std::shared_ptr<EmuDevice>> registeredDevices;
};

}  // namespace emu

#endif
