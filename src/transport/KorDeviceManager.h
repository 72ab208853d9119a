// KorDeviceManager: snapshot of the attached devices of the supported family.
#ifndef KORVANE_KORDEVICEMANAGER_H
#define KORVANE_KORDEVICEMANAGER_H

#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "export.h"
#include "kordefs.h"

struct hid_device_info;

// SWIG reads the declarations outside the namespace: the module korvane
// publishes them under their flat names (see korvane/library.i).
#ifndef SWIG
namespace korvane {
#endif

// Narrows a wide string to bytes: each unit up to the first zero keeps its
// low 8 bits; a null string gives "".
KORVANE_API std::string convertWcharToString(wchar_t *text);

#ifndef SWIG
// One attached device of the family as hidapi lists it, texts in UTF-8.
struct AttachedDevice {
    std::string path;
    std::string product;
    std::string serial;
    std::string manufacturer;
    uint16_t release;
    int interfaceNumber;
};

// Every attached device of the family, in hidapi's order: devices with equal
// or empty serial numbers each have their own record. With product or
// serial, only the devices whose texts match them (listedTextMatches).
KORVANE_API std::vector<AttachedDevice> listAttachedDevices(
    const std::optional<std::string> &product = {}, const std::optional<std::string> &serial = {});

// Whether a product name or serial number as hidapi lists it is the one
// asked for: its UTF-8 encoding equals the wanted bytes exactly (no case
// folding, no normalisation; a missing text is ""). Both Python modules find
// devices by it: KorDeviceManager's lookups and pykorvane's by serial number.
KORVANE_API bool listedTextMatches(const wchar_t *listed, const std::string &wanted);
#endif

class KORVANE_API KorDeviceManager {
public:
    KorDeviceManager();
    ~KorDeviceManager();
    void updateDeviceList();
    // updateDeviceList in two steps, for callers that must not hold their
    // own locks while hidapi enumerates: the attached devices of the family
    // as a fresh hidapi list, then that list taken as the snapshot (the old
    // one is freed).
#ifndef SWIG
    static hid_device_info *enumerateAttached();
    void replaceDeviceList(hid_device_info *list);
#endif
    int getDeviceNum();
    // The lists give the texts narrowed by convertWcharToString; the lookups
    // by name and serial number match by listedTextMatches (UTF-8).
    int getDeviceNum(std::string name);
    std::vector<std::string> getDeviceList();
    std::vector<std::string> getSerialList(std::string name);
    // Paths point into the snapshot: valid until updateDeviceList or
    // destruction. Null when no device matches.
    char *getPathByName(std::string name);
    char *getPathByNameAndSerial(std::string name, std::string serial);

private:
    KorDeviceManager(const KorDeviceManager &) = delete;
    KorDeviceManager &operator=(const KorDeviceManager &) = delete;

    hid_device_info *deviceLists[USB_VID_NUM_MAX];
};

#ifndef SWIG
}  // namespace korvane
#endif

#endif
