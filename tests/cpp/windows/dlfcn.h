// The part of <dlfcn.h> the C++ tests use, for the Windows build: dlsym with
// RTLD_NEXT. On Linux the tests define some hid_* functions in the
// executable, where they take the library's calls, and reach the emulated
// HID library's own definition through RTLD_NEXT. On Windows the library is
// linked statically into the test executable, so the same definitions take
// its calls, and "the next definition" is the one the emulated HID library's
// DLL exports. This directory is on the include path of the Windows test
// build only.
#ifndef KORVANE_TESTS_WINDOWS_DLFCN_H
#define KORVANE_TESTS_WINDOWS_DLFCN_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#ifndef KORVANE_HID_DLL
#error "KORVANE_HID_DLL names the DLL that serves the hid_* functions"
#endif

#define RTLD_NEXT (reinterpret_cast<void *>(-1))

inline void *dlsym(void *handle, const char *name) {
    if (handle != RTLD_NEXT)
        return nullptr;
    const HMODULE library = GetModuleHandleA(KORVANE_HID_DLL);
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(library, name));
}

#endif
