// The state file: every emulated device (model, serial number, path, USB
// identity) with its firmware state as JSON, so that a chain of processes
// sees the devices as the previous one left them. Faults, traffic logs and
// open handles are not part of it.
#ifndef KORVANE_EMU_STATE_FILE_H
#define KORVANE_EMU_STATE_FILE_H

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "EmuDevice.h"

namespace emu {

using DeviceList = std::vector<std::shared_ptr<EmuDevice>>;

// A state file that cannot be read or is not one this library can take;
// what() is "<path>: <reason>".
class StateFileError : public std::runtime_error {
public:
    StateFileError(const std::string &path, const std::string &reason, bool unreadable)
        : std::runtime_error(path + ": " + reason), reason(reason), unreadable(unreadable) {}
    const std::string reason;
    const bool unreadable;  // else read but not valid; the reason says what and where
};

// New devices built from the file at path. Throws StateFileError, with
// missing set when the file does not exist.
DeviceList loadStateFile(const std::string &path, bool &missing);
// Writes the devices' state to a temporary file beside path that is
// renamed over it, so a reader never sees half a file; false with the
// reason in error.
bool saveStateFile(const std::string &path, const DeviceList &devices, std::string &error);

}  // namespace emu

#endif
