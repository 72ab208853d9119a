#include <string>
#include <vector>

#include "KorDeviceManager.h"
#include "emu_helpers.h"

using namespace korvane;

namespace {

using Names = std::vector<std::string>;

class DeviceManager : public EmuTest {};

TEST_F(DeviceManager, CountsListsAndLooksUpByNameAndSerial) {
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    addDevice("DMM", "SHARED", "/dev/emu-m");
    addDevice("Vanta", "VT-2", "/dev/emu-b");
    addDevice("Vanta", "SHARED-V", "/dev/emu-c");
    KorDeviceManager manager;

    EXPECT_EQ(4, manager.getDeviceNum());
    EXPECT_EQ(3, manager.getDeviceNum("Vanta"));
    EXPECT_EQ(1, manager.getDeviceNum("DMM"));
    EXPECT_EQ(0, manager.getDeviceNum("vanta"));
    EXPECT_EQ(0, manager.getDeviceNum("Van"));
    EXPECT_EQ((Names{"Vanta", "DMM", "Vanta", "Vanta"}), manager.getDeviceList());
    EXPECT_EQ((Names{"VT-1", "VT-2", "SHARED-V"}), manager.getSerialList("Vanta"));
    EXPECT_EQ(Names{}, manager.getSerialList("Brondel HUB"));

    ASSERT_NE(nullptr, manager.getPathByName("Vanta"));
    EXPECT_STREQ("/dev/emu-a", manager.getPathByName("Vanta"));
    EXPECT_EQ(nullptr, manager.getPathByName("Vant"));
    EXPECT_EQ(nullptr, manager.getPathByName("Brondel HUB"));

    struct Lookup {
        const char *name;
        const char *serial;
        const char *path;  // null: none
    } lookups[] = {
        {"Vanta", "VT-2", "/dev/emu-b"}, {"Vanta", "VT-1", "/dev/emu-a"},
        {"Vanta", "SHARED", nullptr},  // another model's serial
        {"DMM", "SHARED", "/dev/emu-m"}, {"Vanta", "VT-", nullptr},
        {"Vanta", "", nullptr},
    };
    for (const Lookup &lookup : lookups) {
        const char *found = manager.getPathByNameAndSerial(lookup.name, lookup.serial);
        if (lookup.path == nullptr) {
            EXPECT_EQ(nullptr, found) << lookup.name << "/" << lookup.serial;
        } else {
            ASSERT_NE(nullptr, found) << lookup.name << "/" << lookup.serial;
            EXPECT_STREQ(lookup.path, found);
        }
    }
}

TEST_F(DeviceManager, OnlySupportedIdsAreListed) {
    const int other = addDevice("Vanta", "VT-9", "/dev/emu-x");
    emu_set_ids(other, 0x2341, 0x8036);
    addDevice("Vanta", "VT-1", "/dev/emu-a");
    KorDeviceManager manager;
    EXPECT_EQ(1, manager.getDeviceNum());
    EXPECT_STREQ("/dev/emu-a", manager.getPathByName("Vanta"));
}

// The lists narrow each unit to its low byte; the lookups match UTF-8.
TEST_F(DeviceManager, ListsNarrowByLowByteLookupsMatchUtf8) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    emu_set_product_string(dev, L"Caf\u00e9");
    emu_set_serial_string(dev, L"S\u00e9r");
    KorDeviceManager manager;
    EXPECT_EQ(Names{"Caf\xE9"}, manager.getDeviceList());
    EXPECT_EQ(0, manager.getDeviceNum("Caf\xE9"));  // the narrowed form no longer matches
    EXPECT_EQ(1, manager.getDeviceNum("Caf\xC3\xA9"));
    EXPECT_EQ(Names{"S\xE9r"}, manager.getSerialList("Caf\xC3\xA9"));
    EXPECT_NE(nullptr, manager.getPathByNameAndSerial("Caf\xC3\xA9", "S\xC3\xA9r"));
}

TEST_F(DeviceManager, MissingStringsCountAsEmpty) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    emu_set_product_string(dev, nullptr);
    emu_set_serial_string(dev, nullptr);
    KorDeviceManager manager;
    EXPECT_EQ(Names{""}, manager.getDeviceList());
    EXPECT_EQ(1, manager.getDeviceNum(""));
    EXPECT_EQ(Names{""}, manager.getSerialList(""));
    EXPECT_STREQ("/dev/emu-a", manager.getPathByNameAndSerial("", ""));
}

TEST_F(DeviceManager, LongNamesCompareWhole) {
    const std::wstring longName(40, L'N');
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    emu_set_product_string(dev, longName.c_str());
    KorDeviceManager manager;
    EXPECT_EQ(1, manager.getDeviceNum(std::string(40, 'N')));
    EXPECT_EQ(0, manager.getDeviceNum(std::string(31, 'N')));
}

TEST_F(DeviceManager, EveryInterfaceIsOneRecord) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    emu_set_interface_count(dev, 2);
    KorDeviceManager manager;
    EXPECT_EQ(2, manager.getDeviceNum("Vanta"));
    EXPECT_STREQ("/dev/emu-a", manager.getPathByName("Vanta"));
}

TEST_F(DeviceManager, SnapshotChangesOnlyOnUpdate) {
    const int dev = addDevice("Vanta", "VT-1", "/dev/emu-a");
    KorDeviceManager manager;
    emu_unplug(dev);
    EXPECT_EQ(1, manager.getDeviceNum());
    manager.updateDeviceList();
    EXPECT_EQ(0, manager.getDeviceNum());
    EXPECT_EQ(nullptr, manager.getPathByName("Vanta"));
    emu_replug(dev);
    manager.updateDeviceList();
    EXPECT_EQ(1, manager.getDeviceNum("Vanta"));
}

TEST(ConvertWcharToString, Rules) {
    EXPECT_EQ("", convertWcharToString(nullptr));
    wchar_t ascii[] = L"Vanta";
    EXPECT_EQ("Vanta", convertWcharToString(ascii));
    wchar_t high[] = L"\u00e9\u0141";  // U+0141 keeps its low byte 0x41
    EXPECT_EQ("\xE9\x41", convertWcharToString(high));
    std::wstring longText(45, L'z');
    EXPECT_EQ(std::string(45, 'z'), convertWcharToString(&longText[0]));
}

}  // namespace
