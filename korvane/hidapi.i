/* hidapi's enumeration record and functions, passed through under their own
 * names.
 *
 * SWIG sees the declarations below, not hidapi.h: the system's hidapi 0.13
 * declares more (a bus_type member, a version record, hid_version,
 * hid_get_input_report, ...), which the module does not publish. The
 * compiler sees the real header. Wide strings stay bare 'wchar_t *' pointer
 * objects. hidapi dereferences the handles and buffers it is given, so the
 * wrappers check them first (see hid_records.i).
 */

%{
#include <hidapi.h>

#include "HidApi.h"

/* The wrappers below call hidapi's functions by their own names; each name
 * stands for the function of the HID backend in use (the system's hidapi or
 * the emulated library, see HidBackend.h), as the library's own calls do. */
#define hid_init hidApi().init
#define hid_exit hidApi().exit
#define hid_enumerate hidApi().enumerate
#define hid_free_enumeration hidApi().free_enumeration
#define hid_open hidApi().open
#define hid_open_path hidApi().open_path
#define hid_write hidApi().write
#define hid_read_timeout hidApi().read_timeout
#define hid_read hidApi().read
#define hid_set_nonblocking hidApi().set_nonblocking
#define hid_send_feature_report hidApi().send_feature_report
#define hid_get_feature_report hidApi().get_feature_report
#define hid_close hidApi().close
#define hid_get_manufacturer_string hidApi().get_manufacturer_string
#define hid_get_product_string hidApi().get_product_string
#define hid_get_serial_number_string hidApi().get_serial_number_string
#define hid_get_indexed_string hidApi().get_indexed_string
#define hid_error hidApi().error
%}

%include "hid_records.i"

struct hid_device_;
typedef struct hid_device_ hid_device;

/* The enumeration record is a plain value: it keeps the interpreter lock,
 * like the functions that only free memory or report state. The others may
 * wait on the device or the system and run without it. */
%nothread hid_device_info::hid_device_info;
%nothread hid_device_info::~hid_device_info;
%nothread;
struct hid_device_info {
  char *path;
  unsigned short vendor_id;
  unsigned short product_id;
  wchar_t *serial_number;
  unsigned short release_number;
  wchar_t *manufacturer_string;
  wchar_t *product_string;
  unsigned short usage_page;
  unsigned short usage;
  int interface_number;
  struct hid_device_info *next;
};
%clearnothread;
%nothread hid_free_enumeration;
%nothread hid_set_nonblocking;
%nothread hid_error;

int hid_init(void);
int hid_exit(void);
struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id);
void hid_free_enumeration(struct hid_device_info *devs);
hid_device *hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial_number);
hid_device *hid_open_path(const char *path);
int hid_write(hid_device *dev, const unsigned char *data, size_t length);
int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds);
int hid_read(hid_device *dev, unsigned char *data, size_t length);
int hid_set_nonblocking(hid_device *dev, int nonblock);
int hid_send_feature_report(hid_device *dev, const unsigned char *data, size_t length);
int hid_get_feature_report(hid_device *dev, unsigned char *data, size_t length);
void hid_close(hid_device *handle);
int hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen);
int hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen);
int hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen);
int hid_get_indexed_string(hid_device *dev, int string_index, wchar_t *string, size_t maxlen);
const wchar_t *hid_error(hid_device *dev);

/* The checks above belong to hidapi's functions only; the library's own
 * functions with parameters of the same names handle null themselves. */
%clear hid_device *dev;
%clear const unsigned char *data;
%clear unsigned char *data;
%clear size_t length;
%clear (wchar_t *string, size_t maxlen);
%clear char *path;
%clear wchar_t *serial_number;
%clear wchar_t *manufacturer_string;
%clear wchar_t *product_string;
%clear hid_device_info *next;
