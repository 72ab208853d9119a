#include "HidBackend.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <hidapi.h>

#include "HidApi.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace korvane {

namespace {

// The system's hidapi as linked (in a process that preloads the emulated
// library, these are its functions: that route keeps working unchanged).
const HidApi kSystem = {hid_init,
                        hid_exit,
                        hid_enumerate,
                        hid_free_enumeration,
                        hid_open,
                        hid_open_path,
                        hid_write,
                        hid_read_timeout,
                        hid_read,
                        hid_set_nonblocking,
                        hid_send_feature_report,
                        hid_get_feature_report,
                        hid_close,
                        hid_get_manufacturer_string,
                        hid_get_product_string,
                        hid_get_serial_number_string,
                        hid_get_indexed_string,
                        hid_error};

// A chosen backend that could not be loaded: nothing is listed or opened, so
// a program meant for emulated devices never reaches real ones instead.
int noInit() { return -1; }
hid_device_info *noEnumerate(unsigned short, unsigned short) { return nullptr; }
void noFree(hid_device_info *) {}
hid_device *noOpen(unsigned short, unsigned short, const wchar_t *) { return nullptr; }
hid_device *noOpenPath(const char *) { return nullptr; }
int noWrite(hid_device *, const unsigned char *, size_t) { return -1; }
int noReadTimeout(hid_device *, unsigned char *, size_t, int) { return -1; }
int noRead(hid_device *, unsigned char *, size_t) { return -1; }
int noSetNonblocking(hid_device *, int) { return -1; }
int noGetReport(hid_device *, unsigned char *, size_t) { return -1; }
void noClose(hid_device *) {}
int noString(hid_device *, wchar_t *, size_t) { return -1; }
int noIndexed(hid_device *, int, wchar_t *, size_t) { return -1; }
const wchar_t *noError(hid_device *) { return L"no HID backend"; }
const HidApi kNone = {noInit,  noInit,        noEnumerate, noFree,           noOpen,    noOpenPath,
                      noWrite, noReadTimeout, noRead,      noSetNonblocking, noWrite,   noGetReport,
                      noClose, noString,      noString,    noString,         noIndexed, noError};

#ifdef KORVANE_EMU_FILE
const char kEmuFile[] = KORVANE_EMU_FILE;
#elif defined(_WIN32)
const char kEmuFile[] = "libkorvane_emu.dll";
#else
const char kEmuFile[] = "libkorvane_emu.so";
#endif

// A library loaded for the rest of the process: its functions stay in the
// table, so it is never unloaded.
class LoadedLibrary {
public:
    bool load(const std::string &path) {
#ifdef _WIN32
        handle = reinterpret_cast<void *>(LoadLibraryA(path.c_str()));
#else
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
        return handle != nullptr;
    }
    void *symbol(const char *name) const {
#ifdef _WIN32
        return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
        return dlsym(handle, name);
#endif
    }
    template <typename Function>
    bool bind(Function &slot, const char *name) const {
        void *found = symbol(name);
        slot = reinterpret_cast<Function>(found);
        return found != nullptr;
    }

private:
    void *handle = nullptr;
};

// The folder of this library's file, with a trailing separator, or "".
std::string ownFolder() {
    std::string file;
#ifdef _WIN32
    HMODULE self = nullptr;
    char name[MAX_PATH] = {};
    if (GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&ownFolder), &self) &&
        GetModuleFileNameA(self, name, sizeof name) < sizeof name) {
        file = name;
    }
    const std::string::size_type cut = file.find_last_of("\\/");
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&ownFolder), &info) != 0 && info.dli_fname != nullptr) {
        file = info.dli_fname;
    }
    const std::string::size_type cut = file.rfind('/');
#endif
    return cut == std::string::npos ? std::string() : file.substr(0, cut + 1);
}

// Where to look for the emulated library when no file is named: beside this
// library (an installed package), in the build tree's emulator folder, inside
// the Python package that pip installs beside it, then by name alone.
std::vector<std::string> emulatorCandidates(const std::string &named) {
    if (!named.empty()) {
        return {named};
    }
    if (const char *fromEnv = std::getenv("KORVANE_EMU_LIB");
        fromEnv != nullptr && *fromEnv != '\0') {
        return {fromEnv};
    }
    const std::string here = ownFolder();
    std::vector<std::string> found;
    if (!here.empty()) {
        found = {here + kEmuFile, here + "../emulator/" + kEmuFile,
                 here + "pykorvane/emulator/lib/" + kEmuFile};
    }
    found.emplace_back(kEmuFile);
    return found;
}

// The emulated library's table, loaded from the first candidate that loads;
// on failure, why.
std::string loadEmulator(const std::string &named, HidApi &api) {
    std::string tried;
    for (const std::string &path : emulatorCandidates(named)) {
        LoadedLibrary library;
        if (!library.load(path)) {
            tried += (tried.empty() ? "" : ", ") + path;
            continue;
        }
        // The control functions tell the emulated library from any other
        // hidapi that a wrong path might name.
        const bool complete =
            library.symbol("emu_add_device") != nullptr && library.bind(api.init, "hid_init") &&
            library.bind(api.exit, "hid_exit") && library.bind(api.enumerate, "hid_enumerate") &&
            library.bind(api.free_enumeration, "hid_free_enumeration") &&
            library.bind(api.open, "hid_open") && library.bind(api.open_path, "hid_open_path") &&
            library.bind(api.write, "hid_write") &&
            library.bind(api.read_timeout, "hid_read_timeout") &&
            library.bind(api.read, "hid_read") &&
            library.bind(api.set_nonblocking, "hid_set_nonblocking") &&
            library.bind(api.send_feature_report, "hid_send_feature_report") &&
            library.bind(api.get_feature_report, "hid_get_feature_report") &&
            library.bind(api.close, "hid_close") &&
            library.bind(api.get_manufacturer_string, "hid_get_manufacturer_string") &&
            library.bind(api.get_product_string, "hid_get_product_string") &&
            library.bind(api.get_serial_number_string, "hid_get_serial_number_string") &&
            library.bind(api.get_indexed_string, "hid_get_indexed_string") &&
            library.bind(api.error, "hid_error");
        if (!complete) {
            return path + " is not the emulated HID library";
        }
        return "";
    }
    return "the emulated HID library was not found (tried " + tried + "; set KORVANE_EMU_LIB)";
}

struct Choice {
    std::mutex mutex;
    // Set once, under mutex; read without it on every call once set.
    std::atomic<const HidApi *> api{nullptr};
    std::string name;
    HidApi emulator{};
};

Choice &choice() {
    static Choice theChoice;
    return theChoice;
}

// Puts a backend in place; called with the choice's mutex held.
std::string install(Choice &chosen, HidBackend backend, const std::string &library) {
    if (backend == HidBackend::System) {
        chosen.name = "system";
        chosen.api.store(&kSystem, std::memory_order_release);
        return "";
    }
    HidApi loaded{};
    std::string why = loadEmulator(library, loaded);
    if (why.empty()) {
        chosen.emulator = loaded;
        chosen.name = "emulator";
        chosen.api.store(&chosen.emulator, std::memory_order_release);
    }
    return why;
}

}  // namespace

std::string useHidBackend(HidBackend backend, const std::string &library) {
    Choice &chosen = choice();
    std::lock_guard<std::mutex> lock(chosen.mutex);
    const char *wanted = backend == HidBackend::System ? "system" : "emulator";
    if (chosen.api.load(std::memory_order_acquire) != nullptr) {
        if (chosen.name == wanted) {
            return "";
        }
        return std::string("too late to choose the ") + wanted + " HID backend: the " +
               chosen.name +
               " one is in use in this process (choose before the first listing or open)";
    }
    return install(chosen, backend, library);
}

std::string hidBackendInUse() {
    Choice &chosen = choice();
    std::lock_guard<std::mutex> lock(chosen.mutex);
    return chosen.api.load(std::memory_order_acquire) == nullptr ? std::string() : chosen.name;
}

const HidApi &hidApi() {
    Choice &chosen = choice();
    if (const HidApi *api = chosen.api.load(std::memory_order_acquire)) {
        return *api;
    }
    std::lock_guard<std::mutex> lock(chosen.mutex);
    if (const HidApi *api = chosen.api.load(std::memory_order_acquire)) {
        return *api;
    }
    const char *fromEnv = std::getenv("KORVANE_BACKEND");
    const std::string named = fromEnv == nullptr ? "" : fromEnv;
    std::string why;
    if (named.empty() || named == "system") {
        why = install(chosen, HidBackend::System, "");
    } else if (named == "emulator") {
        why = install(chosen, HidBackend::Emulator, "");
    } else {
        why = "KORVANE_BACKEND=" + named + " is no HID backend (system or emulator)";
    }
    if (!why.empty()) {
        std::fprintf(stderr, "korvane: %s; no device can be reached\n", why.c_str());
        chosen.name = "none";
        chosen.api.store(&kNone, std::memory_order_release);
    }
    return *chosen.api.load(std::memory_order_acquire);
}

}  // namespace korvane

// For callers without C++ (the emulator's Python helper, through ctypes):
// backend "system" or "emulator"; 0 when in place, else -1 with the reason
// in message (truncated to size bytes, terminated).
extern "C" KORVANE_API int korvane_use_hid_backend(const char *backend, const char *library,
                                                   char *message, size_t size) {
    std::string why;
    if (backend == nullptr ||
        (std::strcmp(backend, "system") != 0 && std::strcmp(backend, "emulator") != 0)) {
        why = "the HID backend is \"system\" or \"emulator\"";
    } else {
        using korvane::HidBackend;
        why = korvane::useHidBackend(
            std::strcmp(backend, "system") == 0 ? HidBackend::System : HidBackend::Emulator,
            library == nullptr ? "" : library);
    }
    if (message != nullptr && size > 0) {
        std::snprintf(message, size, "%s", why.c_str());
    }
    return why.empty() ? 0 : -1;
}
