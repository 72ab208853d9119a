// KorDevice: the library's hold on one USB HID device (one hidapi handle).
#ifndef KORVANE_KORDEVICE_H
#define KORVANE_KORDEVICE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <mutex>

#include "export.h"
#include "kordefs.h"

struct hid_device_;
typedef struct hid_device_ hid_device;

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

class KORVANE_API KorDevice {
public:
    KorDevice();
    ~KorDevice();

    // Open forms: false when opened, true on failure (after printing
    // "[ERR] Unable to open device\n" on standard error).
    bool open(uint16_t vendorId, uint16_t productId);
    bool open(uint16_t vendorId, uint16_t productId, wchar_t *serial);
    bool open(char const *path);
#ifndef SWIG
    // open(path) without the message on failure.
    bool openSilently(char const *path);
    // Prints the open failure message above when failed; returns failed.
    // Connections print it for their own open failures too.
    static bool reportFailure(bool failed);
#endif

    // False once closed, and once hidapi reported the device gone.
    bool isOpen();
    // false when closed now (a link whose device went away included), true
    // when the link was not open.
    bool close();
    // Sends one 65-byte report (report number 0, then length payload bytes).
    // true when the link is closed, length > 64, data is null or hidapi's
    // write failed (the device is then taken as gone: see isOpen).
    bool write(uint8_t *data, uint8_t length);
    // Non-blocking read of one input report into a 65-byte buffer: bytes
    // read, 0 when none is waiting, -1 on failure, closed link or null data.
    // A failed read means the device is gone.
    int read(uint8_t *data);

#ifndef SWIG
    // Reads one input report, waiting up to milliseconds for it: bytes read,
    // 0 when none came, -1 as read(). For a caller holding the call lock,
    // which keeps a close away while the read waits without handleMutex.
    int readWaiting(uint8_t *data, int milliseconds);

    // Frames a packet of len bytes (at most BUF_LEN - 1) into a report as
    // write() sends it: byte 0 is the report number 0, the packet follows and
    // zero padding fills the rest.
    static void frameReport(const uint8_t *packet, size_t len, uint8_t report[BUF_LEN]) {
        std::memset(report, 0, BUF_LEN);
        std::memcpy(report + 1, packet, len);
    }

    // True from a failed read or write until the link is closed or opened
    // again: the device went away.
    bool isGone();
#endif

    // Number of successful opens so far. An answer to a request sent on an
    // earlier open can never arrive on the current one.
    unsigned long openGeneration();
#ifndef SWIG

    // Held by every call that acts on this link, directly or through a
    // service, connection, block or handle on it, for the whole call: so a
    // multi-step operation is never interleaved with another thread's call.
    // Recursive, since such calls nest. read() does not take it: the
    // service's receive thread polls through read() while a transaction
    // holds this lock and waits for the answer.
    std::recursive_mutex &callMutex() { return calls; }
#endif

private:
    KorDevice(const KorDevice &) = delete;
    KorDevice &operator=(const KorDevice &) = delete;
    bool adoptHandle(hid_device *opened);
    void releaseHandle();

    hid_device *handle;
    // hidapi reported the device gone: the handle is kept until close or
    // the next open, but the link no longer counts as open.
    bool gone;
    // Number of successful opens so far; guarded by handleMutex.
    unsigned long opens;
    std::recursive_mutex calls;
    // Orders open, close, read and write on the handle, so the receive
    // thread never reads through a handle that is being released.
    std::mutex handleMutex;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
