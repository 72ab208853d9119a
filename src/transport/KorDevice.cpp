#include "KorDevice.h"

#include <cstdio>

#include <hidapi.h>

#include "HidapiState.h"
#include "PacketCodec.h"

namespace {
// Links open in this process. hid_exit() releases hidapi's process-wide
// state, which would break the links still open, so it runs only when the
// last one closes. Guarded by hidapi_state::mutex().
int openLinks = 0;

const char kOpenFailed[] = "[ERR] Unable to open device\n";

// Runs one hidapi open function under the state guard and counts the link.
template <typename Opener> hid_device *openCounted(Opener opener) {
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

KorDevice::KorDevice() : handle(nullptr), opens(0) {}

KorDevice::~KorDevice() { close(); }

bool KorDevice::open(uint16_t vendorId, uint16_t productId) {
    return open(vendorId, productId, nullptr);
}

bool KorDevice::open(uint16_t vendorId, uint16_t productId, wchar_t *serial) {
    std::lock_guard<std::mutex> lock(handleMutex);
    releaseHandle();
    return adoptHandle(openCounted([&] { return hid_open(vendorId, productId, serial); }));
}

bool KorDevice::open(char const *path) {
    // A null path is an argument error, not an attempt: the link stays as it is.
    if (path == nullptr) {
        return true;
    }
    std::lock_guard<std::mutex> lock(handleMutex);
    releaseHandle();
    return adoptHandle(openCounted([&] { return hid_open_path(path); }));
}

bool KorDevice::isOpen() {
    std::lock_guard<std::mutex> lock(handleMutex);
    return handle != nullptr;
}

bool KorDevice::close() {
    std::lock_guard<std::mutex> lock(handleMutex);
    if (handle == nullptr) {
        return true;
    }
    releaseHandle();
    return false;
}

bool KorDevice::write(uint8_t *data, uint8_t length) {
    std::lock_guard<std::mutex> lock(handleMutex);
    if (handle == nullptr || data == nullptr || length > packet::kMaxPacketLen) {
        return true;
    }
    uint8_t report[BUF_LEN];
    packet::frame(data, length, report);
    // The byte count is not examined: a failed transfer shows up as a missing
    // answer to the transaction that sent it.
    hid_write(handle, report, BUF_LEN);
    return false;
}

int KorDevice::read(uint8_t *data) {
    std::lock_guard<std::mutex> lock(handleMutex);
    if (handle == nullptr || data == nullptr) {
        return -1;
    }
    return hid_read(handle, data, BUF_LEN);
}

unsigned long KorDevice::openGeneration() {
    std::lock_guard<std::mutex> lock(handleMutex);
    return opens;
}

// Called with handleMutex held.
bool KorDevice::adoptHandle(hid_device *opened) {
    handle = opened;
    if (handle == nullptr) {
        std::fputs(kOpenFailed, stderr);
        return true;
    }
    hid_set_nonblocking(handle, 1);
    ++opens;
    return false;
}

// Called with handleMutex held; does nothing on a closed link.
void KorDevice::releaseHandle() {
    if (handle == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(hidapi_state::mutex());
    hid_close(handle);
    handle = nullptr;
    if (--openLinks == 0) {
        hid_exit();
    }
}
