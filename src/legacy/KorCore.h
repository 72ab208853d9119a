// KorCore: the korvane module's connection, an adapter over Connection that
// keeps the module's behaviour: opens that say only "failed" (true) and
// identity texts read once at open and kept.
#ifndef KORVANE_KORCORE_H
#define KORVANE_KORCORE_H

#include <memory>
#include <string>

#include "Attribute.h"
#include "Connection.h"
#include "KorDevice.h"
#include "KorService.h"
#include "export.h"

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

class KORVANE_API KorCore {
public:
    KorCore();
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

protected:
#ifndef SWIG
    // A model's connection (a Hub, a Meter), polling as the module's
    // connections always have.
    explicit KorCore(std::unique_ptr<Connection> connection);
    KorDevice *link() const { return core->link(); }
    KorService *service() const { return core->service(); }
    Connection &connection() const { return *core; }
#endif
    // See Connection::waitForCalls: the models' destructors call it first.
    void waitForCalls();
    // Opens the first attached device of the product (with the serial when
    // one is given); true on failure, as openPath.
    bool openByProduct(const char *product, const std::string *serial);

private:
    KorCore(const KorCore &) = delete;
    KorCore &operator=(const KorCore &) = delete;
    std::string identityText(const Attribute &text) const;

    std::unique_ptr<Connection> core;
    Attribute vendorName;
    Attribute productName;
    Attribute productRevision;
    Attribute productSerial;
    Attribute firmVersion;
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
