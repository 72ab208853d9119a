// DeviceClaim: a connection's exclusive hold on one device.
//
// hidraw hands every input report to every open handle, so two connections
// on one device would each take the other's answers as their own. A claim
// keeps a second connection of this process off a device that a live
// connection holds open; on a real device node it also takes an advisory
// exclusive lock (flock), which keeps connections of other processes off.
#ifndef KORVANE_DEVICECLAIM_H
#define KORVANE_DEVICECLAIM_H

#include <memory>
#include <string>

namespace korvane {

class KorDevice;

class DeviceClaim {
public:
    // Claims path for holder, a link open on it. Null when another claim
    // whose link is still open holds the path, or another process holds the
    // node's lock. A claim whose link has closed since (the device went
    // away) no longer counts.
    static std::unique_ptr<DeviceClaim> take(const std::string &path, KorDevice *holder);
    ~DeviceClaim();

private:
    DeviceClaim(const std::string &path, unsigned long ticket, int lockFd);
    DeviceClaim(const DeviceClaim &) = delete;
    DeviceClaim &operator=(const DeviceClaim &) = delete;

    std::string path;
    // Tells this claim's registry entry from a later one on the same path.
    unsigned long ticket;
    // The descriptor holding the node's lock, or -1 (not a file).
    int lockFd;
};

}  // namespace korvane

#endif
