// The published constants of the Korvane library, grouped by the layer they
// belong to: the transport's report size and USB ids, the protocol's codes
// and identity attributes, then the devices' attribute ids and pin modes.
// Every constant here is also published by the Python module, in this order,
// so it lives in the lowest layer, where every layer above can see it.
#ifndef KORVANE_KORDEFS_H
#define KORVANE_KORDEFS_H

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

// ---- Transport: report size and USB identifiers.
const int BUF_LEN = 65;  // report number + 64 payload bytes
const int MAX_STR = 255;
const int DEFAULT_DEALY = 10;
const int USB_VID_PIC = 0x04D8;
const int USB_PID_PIC = 0xECD0;
const int USB_VID_ARDUINO = 0x2341;
const int USB_PID_ARDUINO = 0x8036;
const int USB_VID_NUM_MAX = 1;
const int PROTOCOL_VERSION = 0;

// ---- Protocol: packet codes, value size, identity attributes.

// Operation and event codes of a protocol packet.
enum OperationCode {
    OP_METADATA_GET = 0x10,
    OP_CONFIG_SET = 0x11,
    OP_ATT_VALUE_SET = 0x12,
    OP_ATT_VALUE_GET = 0x13,
    EVT_NOTIFY = 0xA0
};

// Result code carried in a device's answer.
enum ReturnCode {
    RC_FAIL = 0,
    RC_OK = 1
};

// Capacity in bytes of one attribute value.
const int VALUE_LEN = 32;

// Identity attributes read by every connection at open.
const int ATT_VENDOR_NAME = 0;
const int ATT_PRODUCT_NAME = 1;
const int ATT_PRODUCT_REVISION = 2;
const int ATT_PRODUCT_SERIAL = 3;
const int ATT_FIRM_VERSION = 4;

enum AttributionPermission {
    PERMISSION_NONE = 0,
    PERMISSION_READABLE = 1,
    PERMISSION_WRITABLE = 2,
    PERMISSION_READABLE_WRITABLE = 3
};

enum AttributionProperty {
    PROPERTY_READ = 1,
    PROPERTY_WRITE = 2,
    PROPERTY_NOTIFY = 4
};

// ---- Devices: attribute ids of the blocks and models, pin modes.

// Attribute id bases of the peripheral blocks and fixed attribute ids.
const int ATT_GPIO0_BASE = 0x1200;
const int ATT_ADC_BASE = 0x1300;
const int ATT_IC20_BASE = 0x1400;
const int ATT_USB_PORT_CTRL = 0x8000;
const int ATT_CALIBRATION = 0x8100;
const int ATT_VOLTAGE = 0x8101;
const int ATT_CURRENT = 0x8102;

// Sub-attributes of a GPIO block (added to its base id).
enum AttGpioHw {
    ATT_GPIO_INOUT_MODE = 0,
    ATT_GPIO_PULL_UP = 1,
    ATT_GPIO_PULL_DOWN = 2,
    ATT_GPIO_RW = 3
};

enum PinMode {
    OUTPUT_PIN = 0,
    INPUT_PIN = 1,
    INPUT_PULLUP_PIN = 2,
    INPUT_PULLDOWN_PIN = 3
};

// Pin levels. Named so that they never meet the HIGH and LOW macros of
// Arduino-style code; the module korvane publishes them as HIGH and LOW.
const int kHigh = 1;
const int kLow = 0;

// Sub-attributes of an I2C bridge block (added to its base id).
enum AttI2cHw {
    ATT_I2C_DEVICE_ADDR = 0,
    ATT_I2C_REG_ADDR = 1,
    ATT_I2C_RW_1BYTE = 2,
    ATT_I2C_RW_2BYTE = 3,
    ATT_I2C_RW_3BYTE = 4,
    ATT_I2C_RW_4BYTE = 5
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
