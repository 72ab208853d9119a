// The hidapi functions the library calls, as one table per backend (see
// HidBackend.h). Every hidapi call of the library goes through hidApi().
#ifndef KORVANE_HIDAPI_H
#define KORVANE_HIDAPI_H

#include <cstddef>
#include <cwchar>

#include "export.h"

struct hid_device_;
typedef struct hid_device_ hid_device;
struct hid_device_info;

namespace korvane {

struct HidApi {
    int (*init)(void);
    int (*exit)(void);
    hid_device_info *(*enumerate)(unsigned short vendorId, unsigned short productId);
    void (*free_enumeration)(hid_device_info *devs);
    hid_device *(*open)(unsigned short vendorId, unsigned short productId, const wchar_t *serial);
    hid_device *(*open_path)(const char *path);
    int (*write)(hid_device *dev, const unsigned char *data, size_t length);
    int (*read_timeout)(hid_device *dev, unsigned char *data, size_t length, int milliseconds);
    int (*read)(hid_device *dev, unsigned char *data, size_t length);
    int (*set_nonblocking)(hid_device *dev, int nonblock);
    int (*send_feature_report)(hid_device *dev, const unsigned char *data, size_t length);
    int (*get_feature_report)(hid_device *dev, unsigned char *data, size_t length);
    void (*close)(hid_device *dev);
    int (*get_manufacturer_string)(hid_device *dev, wchar_t *string, size_t maxlen);
    int (*get_product_string)(hid_device *dev, wchar_t *string, size_t maxlen);
    int (*get_serial_number_string)(hid_device *dev, wchar_t *string, size_t maxlen);
    int (*get_indexed_string)(hid_device *dev, int index, wchar_t *string, size_t maxlen);
    const wchar_t *(*error)(hid_device *dev);
};

// The backend in use, chosen on the first call when nothing chose it before.
// Exported, though its header is the library's own: the Python module's
// hid_* functions call through it.
KORVANE_API const HidApi &hidApi();

}  // namespace korvane

#endif
