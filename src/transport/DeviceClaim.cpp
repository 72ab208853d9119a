#include "DeviceClaim.h"

#include <map>
#include <mutex>

#if defined(__unix__)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "KorDevice.h"

namespace korvane {

namespace {
struct Holder {
    KorDevice *link;
    unsigned long ticket;
};

std::mutex &registryMutex() {
    static std::mutex guard;
    return guard;
}

// Claimed paths of this process and the link holding each.
std::map<std::string, Holder> &holders() {
    static std::map<std::string, Holder> claimed;
    return claimed;
}

// Locks the device node at path against other processes: the descriptor
// holding the lock, -1 when path is no file (an emulated device) or cannot
// be opened here, -2 when another process holds the lock.
int lockNode(const std::string &path) {
#if defined(__unix__)
    struct stat node;
    if (::stat(path.c_str(), &node) != 0 || !(S_ISCHR(node.st_mode) || S_ISREG(node.st_mode))) {
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -2;
    }
    return fd;
#else
    (void)path;
    return -1;
#endif
}

void unlockNode(int fd) {
#if defined(__unix__)
    if (fd >= 0) {
        ::close(fd);  // closing the descriptor releases its lock
    }
#else
    (void)fd;
#endif
}
}  // namespace

std::unique_ptr<DeviceClaim> DeviceClaim::take(const std::string &path, KorDevice *holder) {
    static unsigned long nextTicket = 0;
    std::lock_guard<std::mutex> lock(registryMutex());
    std::map<std::string, Holder>::iterator found = holders().find(path);
    if (found != holders().end() && found->second.link != holder && found->second.link->isOpen()) {
        return nullptr;
    }
    const int lockFd = lockNode(path);
    if (lockFd == -2) {
        return nullptr;
    }
    const unsigned long ticket = ++nextTicket;
    holders()[path] = Holder{holder, ticket};
    return std::unique_ptr<DeviceClaim>(new DeviceClaim(path, ticket, lockFd));
}

DeviceClaim::DeviceClaim(const std::string &path, unsigned long ticket, int lockFd)
    : path(path), ticket(ticket), lockFd(lockFd) {}

DeviceClaim::~DeviceClaim() {
    std::lock_guard<std::mutex> lock(registryMutex());
    std::map<std::string, Holder>::iterator found = holders().find(path);
    // A later claim took over this one's stale entry: leave it alone.
    if (found != holders().end() && found->second.ticket == ticket) {
        holders().erase(found);
    }
    unlockNode(lockFd);
}

}  // namespace korvane
