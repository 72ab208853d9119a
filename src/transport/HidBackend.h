// The HID library the devices are reached through, chosen at run time: the
// system's hidapi (the default), or the emulated devices' library, loaded
// into the process with symbols of its own, so that a program or a test
// script can switch to emulated devices without preloading anything.
#ifndef KORVANE_HIDBACKEND_H
#define KORVANE_HIDBACKEND_H

#include <string>

#include "export.h"

namespace korvane {

enum class HidBackend {
    System,
    Emulator
};

// Chooses the backend for this process. It must come before the first
// listing or open: from then on the backend in use stays (choosing it again
// is fine). Without a choice, the first listing or open takes the one named
// by the environment variable KORVANE_BACKEND ("system" or "emulator").
// library names the emulated HID library's file; when empty: the variable
// KORVANE_EMU_LIB, then the library beside this one, then the loader's
// search path. Returns an empty string when the backend is in place, else
// why not (the choice is then left open).
[[nodiscard]] KORVANE_API std::string useHidBackend(HidBackend backend,
                                                    const std::string &library = "");

// "system", "emulator", "none" (the chosen backend could not be loaded: no
// device is listed or opened), or "" before the first listing or open.
KORVANE_API std::string hidBackendInUse();

}  // namespace korvane

#endif
