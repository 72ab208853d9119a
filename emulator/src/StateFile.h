// The state file: every emulated device (model, serial number, path, USB
// identity) with its firmware state as JSON, so that a chain of processes
// sees the devices as the previous one left them. Faults, traffic logs and
// open handles are not part of it.
#ifndef KORVANE_EMU_STATE_FILE_H
#define KORVANE_EMU_STATE_FILE_H

#include <memory>
#include <string>
#include <vector>

#include "EmuDevice.h"

namespace emu {

using DeviceList = std::vector<std::shared_ptr<EmuDevice>>;

// The devices' state as a JSON document.
std::string stateText(const DeviceList &devices);
// New devices built from a document; throws json::Error saying what and
// where when the text is not a state file this library can take.
DeviceList devicesFromState(const std::string &text);

// Whole-file reading and writing; false with the reason in error. The
// write goes to a temporary file beside path that is renamed over it, so a
// reader never sees half a file. A missing file sets missing.
bool readStateFile(const std::string &path, std::string &text, bool &missing, std::string &error);
bool writeStateFile(const std::string &path, const std::string &text, std::string &error);

}  // namespace emu

#endif
