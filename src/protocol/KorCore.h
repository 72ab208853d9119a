// KorCore: one connection to one device: its link, its attribute service
// and the identity texts read at open.
#ifndef KORVANE_KORCORE_H
#define KORVANE_KORCORE_H

#include <memory>
#include <string>

#include "Attribute.h"
#include "DeviceClaim.h"
#include "KorDevice.h"
#include "KorService.h"

class KorCore {
public:
    KorCore();
    ~KorCore();
    // Refused (true, with the open failure message) when another connection
    // of this process holds the device open.
    bool openPath(char const *path);
    bool close();
    bool isConnected();
    std::string getVendorName();
    std::string getProductName();
    std::string getProductRevision();
    std::string getProductSerial();
    std::string getFirmVersion();

    // The connection's link; its call lock guards calls on the connection.
    KorDevice *link() { return device.get(); }

protected:
    // Opens the first attached device of the product (with the serial when
    // one is given); true on failure, as openPath.
    bool openByProduct(const char *product, const std::string *serial);
    // Waits until a call on this connection that another thread is making
    // has ended; the destructors call it before anything is torn down.
    void waitForCalls();

    // Declared in this order so that the service (whose thread reads
    // through the link) goes first, then the claim (whose registry entry
    // points at the link), then the link.
    std::unique_ptr<KorDevice> device;
    std::unique_ptr<DeviceClaim> claim;
    std::unique_ptr<KorService> service;

private:
    KorCore(const KorCore &) = delete;
    KorCore &operator=(const KorCore &) = delete;
    std::string identityText(Attribute &text);

    Attribute vendorName;
    Attribute productName;
    Attribute productRevision;
    Attribute productSerial;
    Attribute firmVersion;
};

#endif
