#include "hid_read_probe.h"

#include <dlfcn.h>
#include <hidapi.h>

#include <condition_variable>
#include <map>
#include <mutex>

namespace {

std::mutex probeMutex;
std::condition_variable probeChanged;
std::map<std::string, long> readsByPath;

// The emulated hidapi's hid_read may itself call hid_read_timeout, which
// then lands here again: only the outermost call of a thread counts.
thread_local int probeDepth = 0;

void countRead(hid_device *device) {
    const hid_device_info *info = hid_get_device_info(device);
    if (info == nullptr || info->path == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(probeMutex);
        ++readsByPath[info->path];
    }
    probeChanged.notify_all();
}

template <typename Function>
Function next(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Calls the emulated function and counts a report it delivered.
template <typename Call>
int probed(hid_device *device, Call call) {
    ++probeDepth;
    const int got = call();
    --probeDepth;
    if (got > 0 && probeDepth == 0)
        countRead(device);
    return got;
}

}  // namespace

extern "C" int hid_read_timeout(hid_device *device, unsigned char *data, size_t length,
                                int milliseconds) {
    using Read = int (*)(hid_device *, unsigned char *, size_t, int);
    static const Read real = next<Read>("hid_read_timeout");
    if (real == nullptr)
        return -1;
    return probed(device, [&] { return real(device, data, length, milliseconds); });
}

extern "C" int hid_read(hid_device *device, unsigned char *data, size_t length) {
    using Read = int (*)(hid_device *, unsigned char *, size_t);
    static const Read real = next<Read>("hid_read");
    if (real == nullptr)
        return -1;
    return probed(device, [&] { return real(device, data, length); });
}

namespace hid_probe {

long reportsRead(const std::string &path) {
    std::lock_guard<std::mutex> lock(probeMutex);
    auto found = readsByPath.find(path);
    return found == readsByPath.end() ? 0 : found->second;
}

long awaitReportsRead(const std::string &path, long count, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(probeMutex);
    probeChanged.wait_for(lock, bound, [&] { return readsByPath[path] >= count; });
    return readsByPath[path];
}

}  // namespace hid_probe
