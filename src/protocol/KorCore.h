// KorCore: one connection to one device: its link, its attribute service
// and the identity texts read at open.
#ifndef KORVANE_KORCORE_H
#define KORVANE_KORCORE_H

#include <memory>
#include <string>

#include "Attribute.h"
#include "KorDevice.h"
#include "KorService.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

// The connection's exclusive hold on its device (see DeviceClaim.h).
class DeviceClaim;

class KORVANE_API KorCore {
public:
    KorCore();
#ifndef SWIG
    // receive: how the connection takes in the device's answers (see
    // KorService::Receive); KorCore() polls.
    explicit KorCore(KorService::Receive receive);
#endif
    // Virtual: a model deleted through a KorCore pointer is torn down whole.
    virtual ~KorCore();
    // Refused (true, with the open failure message) when another connection
    // of this process holds the device open.
    bool openPath(char const *path);
    bool close();
#ifndef SWIG
    bool isConnected() const;
    std::string getVendorName() const;
    std::string getProductName() const;
    std::string getProductRevision() const;
    std::string getProductSerial() const;
    std::string getFirmVersion() const;
#else
    // The Python module's signatures name the object without const, as they
    // always have (its messages and docstrings show them).
    bool isConnected();
    std::string getVendorName();
    std::string getProductName();
    std::string getProductRevision();
    std::string getProductSerial();
    std::string getFirmVersion();
#endif

#ifndef SWIG
    // The connection's link; its call lock guards calls on the connection.
    KorDevice *link() const { return device.get(); }

    enum class OpenStatus {
        Opened,
        AlreadyOpen,   // this connection is open already
        Unavailable,   // hidapi could not open the path (no such device, no access)
        Busy,          // another connection holds the device open
        OtherProduct,  // the device says it is another model's product: not opened
    };
    // openPath without the failure message, saying why it failed. Opened
    // also when identity reads fail. strict (the status API's open): the
    // identity reads stop at the first that gets no answer, so a silent
    // device costs one wait bound instead of five, and a model's object
    // refuses a device whose product name is another's (OtherProduct).
    // openPath opens as connect(path, false).
    OpenStatus connect(const std::string &path, bool strict = true);
    // A fresh read of one identity text (ATT_VENDOR_NAME .. ATT_FIRM_VERSION),
    // saying how it ended; the text read at open is updated too.
    Outcome<std::string> identity(int attid);
#endif

protected:
    // The product string a model opens (set by the model's constructor):
    // connect refuses a device whose product name reads otherwise.
    const char *product = nullptr;

    // Opens the first attached device of the product (with the serial when
    // one is given); true on failure, as openPath.
    bool openByProduct(const char *product, const std::string *serial);
    // Waits until a call on this connection that another thread is making
    // has ended; the destructors call it before anything is torn down.
    void waitForCalls();
#ifndef SWIG
    // A model's move starts from a new, closed connection of the same kind
    // and swaps it with the one moved from (swapConnection, then the model's
    // own members): the object moved to holds the connection, the one moved
    // from is left closed, as newly made. Moving an object that another
    // thread is calling on is a race, as for any object.
    KorService::Receive receiveMode() const { return receive; }
    void swapConnection(KorCore &other) noexcept;
#endif

    // Declared in this order so that the service (whose thread reads
    // through the link) goes first, then the claim (whose registry entry
    // points at the link), then the link.
    std::unique_ptr<KorDevice> device;
    std::unique_ptr<DeviceClaim> claim;
    std::unique_ptr<KorService> service;

private:
    KorCore(const KorCore &) = delete;
    KorCore &operator=(const KorCore &) = delete;
    std::string identityText(const Attribute &text) const;
    Attribute *identityAttribute(int attid);

    Attribute vendorName;
    Attribute productName;
    Attribute productRevision;
    Attribute productSerial;
    Attribute firmVersion;
    KorService::Receive receive;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
