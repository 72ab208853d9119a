// KorCore: one connection to one device: its link, its attribute service
// and the identity texts read at open.
#ifndef KORVANE_KORCORE_H
#define KORVANE_KORCORE_H

#include <string>

#include "Attribute.h"
#include "KorDevice.h"
#include "KorService.h"

class KorCore {
public:
    KorCore();
    ~KorCore();
    bool openPath(char const *path);
    bool close();
    bool isConnected();
    std::string getVendorName();
    std::string getProductName();
    std::string getProductRevision();
    std::string getProductSerial();
    std::string getFirmVersion();

protected:
    // Opens the first attached device of the product (with the serial when
    // one is given); true on failure, as openPath.
    bool openByProduct(const char *product, const std::string *serial);

    KorDevice *device;
    KorService *service;

private:
    KorCore(const KorCore &) = delete;
    KorCore &operator=(const KorCore &) = delete;

    Attribute vendorName;
    Attribute productName;
    Attribute productRevision;
    Attribute productSerial;
    Attribute firmVersion;
};

#endif
