// KorDevice: the library's hold on one USB HID device (one hidapi handle).
#ifndef KORVANE_KORDEVICE_H
#define KORVANE_KORDEVICE_H

#include <cstdint>
#include <cwchar>
#include <mutex>

#include "kordefs.h"

struct hid_device_;
typedef struct hid_device_ hid_device;

class KorDevice {
public:
    KorDevice();
    ~KorDevice();

    // Open forms: false when opened, true on failure (after printing
    // "[ERR] Unable to open device\n" on standard error).
    bool open(uint16_t vendorId, uint16_t productId);
    bool open(uint16_t vendorId, uint16_t productId, wchar_t *serial);
    bool open(char const *path);

    bool isOpen();
    // false when closed now, true when the link was not open.
    bool close();
    // Sends one 65-byte report (report number 0, then length payload bytes).
    // true when the link is closed, length > 64 or data is null.
    bool write(uint8_t *data, uint8_t length);
    // Non-blocking read of one input report into a 65-byte buffer: bytes
    // read, 0 when none is waiting, -1 on failure, closed link or null data.
    int read(uint8_t *data);

private:
    // The attribute service asks whether the link was reopened since it
    // sent a request: answers to the old handle never arrive on a new one.
    friend class KorService;
    unsigned long openGeneration();

    KorDevice(const KorDevice &) = delete;
    KorDevice &operator=(const KorDevice &) = delete;
    bool adoptHandle(hid_device *opened);
    void releaseHandle();

    hid_device *handle;
    // Number of successful opens so far; guarded by handleMutex.
    unsigned long opens;
    // Orders open, close, read and write on the handle, so the receive
    // thread never reads through a handle that is being released.
    std::mutex handleMutex;
};

#endif
