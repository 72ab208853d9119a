// Connection: one connection to one device: its link, its claim on the
// device and its attribute service. Every question it answers is read from
// the device when asked.
#ifndef KORVANE_CONNECTION_H
#define KORVANE_CONNECTION_H

#include <memory>
#include <string>

#include "AttributeStatus.h"
#include "KorDevice.h"
#include "KorService.h"
#include "export.h"

namespace korvane {

// The connection's exclusive hold on its device (see DeviceClaim.h).
class DeviceClaim;

class KORVANE_API Connection {
public:
    // receive: how the connection takes in the device's answers (see
    // KorService::Receive). product: the product name a model's connection
    // opens (null: any device).
    explicit Connection(KorService::Receive receive = KorService::Receive::Waiting,
                        const char *product = nullptr);
    // Virtual: a model deleted through a Connection pointer is torn down
    // whole. Waits for the calls other threads are making on it.
    virtual ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    enum class OpenStatus {
        Opened,
        AlreadyOpen,   // this connection is open already
        Unavailable,   // hidapi could not open the path (no such device, no access)
        Busy,          // another connection holds the device open
        OtherProduct,  // the device says it is another model's product: not opened
    };
    // Opens the device at path and reads its identity texts (which teaches
    // the service the answers its fences expect). The reads stop at the
    // first that gets no answer, so a silent device costs one wait bound
    // instead of five; a model refuses a device whose product name is
    // another's. Opened also when an identity read failed.
    OpenStatus open(const std::string &path);
    // Opens and claims the device at path and reads nothing: for a caller
    // that reads the identity its own way.
    OpenStatus openLink(const std::string &path);
    // false when the link was not open. A call of another thread waiting on
    // the device gives up at once.
    bool close();
    bool isOpen() const;
    // A fresh read of one identity text (ATT_VENDOR_NAME .. ATT_FIRM_VERSION),
    // saying how it ended.
    Outcome<std::string> identity(int attid);

    // The connection's link (its call lock guards calls on the connection)
    // and its attribute service.
    KorDevice *link() const { return device.get(); }
    KorService *service() const { return attributes.get(); }
    KorService::Receive receiveMode() const { return receive; }

    // For destructors of the objects built on this connection, before they
    // tear anything down: waits until a call on it that another thread is
    // making has ended, and makes any later wait on the device give up at
    // once. The connection is unusable afterwards.
    void waitForCalls();

protected:
    // A model's move starts from a new, closed connection of the same kind
    // and swaps it with the one moved from (swapConnection, then the model's
    // own members): the object moved to holds the connection, the one moved
    // from is left closed, as newly made. Moving an object that another
    // thread is calling on is a race, as for any object.
    void swapConnection(Connection &other) noexcept;

private:
    // Declared in this order so that the service (whose thread reads
    // through the link) goes first, then the claim (whose registry entry
    // points at the link), then the link.
    std::unique_ptr<KorDevice> device;
    std::unique_ptr<DeviceClaim> claim;
    std::unique_ptr<KorService> attributes;
    KorService::Receive receive;
    const char *product;
};

}  // namespace korvane

#endif
