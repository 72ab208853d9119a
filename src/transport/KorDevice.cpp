#include "KorDevice.h"

#include <cstdio>

#include <hidapi.h>

#include "HidApi.h"
#include "HidapiState.h"

namespace korvane {

namespace {
// Links open in this process. hid_exit() releases hidapi's process-wide
// state, which would break the links still open, so it runs only when the
// last one closes. Guarded by hidapi_state::mutex().
int openLinks = 0;

const char kOpenFailed[] = "[ERR] Unable to open device\n";

// Runs one hidapi open function under the state guard and counts the link.
template <typename Opener>
hid_device *openCounted(Opener opener) {
    std::lock_guard<std::mutex> lock(hidapi_state::mutex());
    hid_device *opened = opener();
    if (opened != nullptr) {
        ++openLinks;
    }
    return opened;
}
}  // namespace

namespace hidapi_state {
std::mutex &mutex() {
    static std::mutex guard;
    return guard;
}
}  // namespace hidapi_state

KorDevice::KorDevice() : handle(nullptr), gone(false), opens(0) {}

KorDevice::~KorDevice() { close(); }

bool KorDevice::open(uint16_t vendorId, uint16_t productId) {
    return open(vendorId, productId, nullptr);
}

bool KorDevice::open(uint16_t vendorId, uint16_t productId, wchar_t *serial) {
    std::lock_guard<std::recursive_mutex> call(calls);
    std::lock_guard<std::mutex> lock(handleMutex);
    releaseHandle();
    return reportFailure(
        adoptHandle(openCounted([&] { return hidApi().open(vendorId, productId, serial); })));
}

bool KorDevice::open(char const *path) {
    // A null path is an argument error, not an attempt: the link stays as it is.
    return path == nullptr || reportFailure(openSilently(path));
}

bool KorDevice::openSilently(char const *path) {
    if (path == nullptr) {
        return true;
    }
    std::lock_guard<std::recursive_mutex> call(calls);
    std::lock_guard<std::mutex> lock(handleMutex);
    releaseHandle();
    return adoptHandle(openCounted([&] { return hidApi().open_path(path); }));
}

bool KorDevice::isOpen() {
    std::lock_guard<std::mutex> lock(handleMutex);
    return handle != nullptr && !gone;
}

bool KorDevice::isGone() {
    std::lock_guard<std::mutex> lock(handleMutex);
    return handle != nullptr && gone;
}

bool KorDevice::close() {
    std::lock_guard<std::recursive_mutex> call(calls);
    std::lock_guard<std::mutex> lock(handleMutex);
    if (handle == nullptr) {
        return true;
    }
    releaseHandle();
    return false;
}

bool KorDevice::write(uint8_t *data, uint8_t length) {
    std::lock_guard<std::recursive_mutex> call(calls);
    std::lock_guard<std::mutex> lock(handleMutex);
    if (handle == nullptr || gone || data == nullptr || length > BUF_LEN - 1) {
        return true;
    }
    uint8_t report[BUF_LEN];
    frameReport(data, length, report);
    if (hidApi().write(handle, report, BUF_LEN) < 0) {
        // hidraw fails a write only when the device is gone (or the node
        // broken): from now on the link is not open and calls fail at once.
        gone = true;
        return true;
    }
    return false;
}

int KorDevice::read(uint8_t *data) {
    std::lock_guard<std::mutex> lock(handleMutex);
    if (handle == nullptr || gone || data == nullptr) {
        return -1;
    }
    // Non-blocking: 0 means nothing is waiting; -1 means the device is gone.
    const int got = hidApi().read(handle, data, BUF_LEN);
    if (got < 0) {
        gone = true;
    }
    return got;
}

int KorDevice::readWaiting(uint8_t *data, int milliseconds) {
    hid_device *reading;
    {
        std::lock_guard<std::mutex> lock(handleMutex);
        if (handle == nullptr || gone || data == nullptr) {
            return -1;
        }
        reading = handle;
    }
    const int got = hidApi().read_timeout(reading, data, BUF_LEN, milliseconds);
    if (got < 0) {
        std::lock_guard<std::mutex> lock(handleMutex);
        gone = true;
    }
    return got;
}

unsigned long KorDevice::openGeneration() {
    std::lock_guard<std::mutex> lock(handleMutex);
    return opens;
}

bool KorDevice::reportFailure(bool failed) {
    if (failed) {
        std::fputs(kOpenFailed, stderr);
    }
    return failed;
}

// Called with handleMutex held.
bool KorDevice::adoptHandle(hid_device *opened) {
    handle = opened;
    gone = false;
    if (handle == nullptr) {
        return true;
    }
    hidApi().set_nonblocking(handle, 1);
    ++opens;
    return false;
}

// Called with handleMutex held; does nothing on a closed link.
void KorDevice::releaseHandle() {
    if (handle == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(hidapi_state::mutex());
    hidApi().close(handle);
    handle = nullptr;
    if (--openLinks == 0) {
        hidApi().exit();
    }
}

}  // namespace korvane
