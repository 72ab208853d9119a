// hid_enumerate over the emulated devices: one record per interface, ids,
// wide strings, filtering, freeing, and devices leaving and coming back.
#include <cwchar>

#include "EmuTestSupport.h"

using namespace emutest;

namespace {

struct Record {
    std::string path;
    unsigned short vid, pid;
    std::wstring serial, manufacturer, product;
    bool hasSerial;
    int interface_number;
};

std::vector<Record> enumerate(unsigned short vid = 0, unsigned short pid = 0) {
    std::vector<Record> out;
    hid_device_info *head = hid_enumerate(vid, pid);
    for (hid_device_info *d = head; d; d = d->next) {
        out.push_back({d->path, d->vendor_id, d->product_id,
                       d->serial_number ? d->serial_number : L"",
                       d->manufacturer_string ? d->manufacturer_string : L"",
                       d->product_string ? d->product_string : L"", d->serial_number != nullptr,
                       d->interface_number});
    }
    hid_free_enumeration(head);
    return out;
}

class Enumeration : public EmuTest {};

TEST_F(Enumeration, ListsEveryDeviceInOrderWithItsIdentity) {
    ASSERT_EQ(emu_add_device("Vanta", "VT-0001", nullptr), 0);
    ASSERT_EQ(emu_add_device("Brondel HUB", "BH-0001", "/dev/hub-a"), 1);
    ASSERT_EQ(emu_add_device("DMM", nullptr, nullptr), 2);
    EXPECT_EQ(emu_device_count(), 3);

    const auto records = enumerate(0x04D8, 0xECD0);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].path, "/dev/emu-hidraw0");
    EXPECT_EQ(records[0].product, L"Vanta");
    EXPECT_EQ(records[0].serial, L"VT-0001");
    EXPECT_EQ(records[0].manufacturer, L"Korvane Emulated");
    EXPECT_EQ(records[1].path, "/dev/hub-a");
    EXPECT_EQ(records[1].product, L"Brondel HUB");
    EXPECT_EQ(records[2].product, L"DMM");
    EXPECT_FALSE(records[2].hasSerial);
    for (const auto &r : records) {
        EXPECT_EQ(r.vid, 0x04D8);
        EXPECT_EQ(r.pid, 0xECD0);
        EXPECT_EQ(r.interface_number, 0);
    }
}

TEST_F(Enumeration, FiltersByIdsWithZeroMatchingAny) {
    emu_add_device("Vanta", "A", nullptr);
    const int other = emu_add_device("Vanta", "B", nullptr);
    emu_set_ids(other, 0x1234, 0x5678);

    EXPECT_EQ(enumerate().size(), 2u);
    EXPECT_EQ(enumerate(0x04D8, 0xECD0).size(), 1u);
    EXPECT_EQ(enumerate(0x1234, 0).size(), 1u);
    EXPECT_EQ(enumerate(0, 0x5678).at(0).serial, L"B");
    EXPECT_TRUE(enumerate(0x1234, 0xECD0).empty());
}

TEST_F(Enumeration, NoDeviceGivesNullList) {
    EXPECT_EQ(hid_enumerate(0x04D8, 0xECD0), nullptr);
    hid_free_enumeration(nullptr);  // must be harmless
}

TEST_F(Enumeration, WideStringOverridesKeepNonAsciiCharacters) {
    const int dev = emu_add_device("Vanta", "Sé-1", nullptr);
    EXPECT_EQ(enumerate().at(0).serial, L"S\u00e9-1");  // UTF-8 serial arrives decoded

    emu_set_product_string(dev, L"Vant\u00e1 \u2603 \U0001F600");
    emu_set_manufacturer_string(dev, nullptr);
    emu_set_serial_string(dev, L"\u00e9");
    const Record r = enumerate().at(0);
    EXPECT_EQ(r.product, L"Vant\u00e1 \u2603 \U0001F600");
    EXPECT_EQ(r.serial, L"\u00e9");
    EXPECT_EQ(r.manufacturer, L"");

    emu_set_product_string(dev, nullptr);
    hid_device_info *head = hid_enumerate(0, 0);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->product_string, nullptr);
    hid_free_enumeration(head);
}

TEST_F(Enumeration, EveryInterfaceIsItsOwnRecordAndOpens) {
    const int dev = emu_add_device("DMM", "DM-1", "/dev/meter");
    emu_add_device("Vanta", "VT-1", nullptr);
    ASSERT_EQ(emu_set_interface_count(dev, 3), 0);
    EXPECT_EQ(emu_set_interface_count(dev, 0), -1);

    const auto records = enumerate();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].path, "/dev/meter");
    EXPECT_EQ(records[1].path, "/dev/meter:1");
    EXPECT_EQ(records[2].path, "/dev/meter:2");
    EXPECT_EQ(records[2].interface_number, 2);
    EXPECT_EQ(records[3].product, L"Vanta");

    Handle second(hid_open_path("/dev/meter:2"));
    ASSERT_TRUE(second);
    EXPECT_EQ(hid_get_device_info(second.get())->interface_number, 2);
    EXPECT_EQ(hid_open_path("/dev/meter:3"), nullptr);
}

TEST_F(Enumeration, UnpluggedDeviceLeavesTheListAndComesBack) {
    emu_add_device("Vanta", "A", nullptr);
    const int b = emu_add_device("Vanta", "B", nullptr);
    ASSERT_EQ(emu_unplug(b), 0);
    ASSERT_EQ(enumerate().size(), 1u);
    EXPECT_EQ(emu_device_count(), 2);  // still known to the emulator
    ASSERT_EQ(emu_replug(b), 0);
    const auto records = enumerate();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].serial, L"B");
}

TEST_F(Enumeration, ResetRemovesDevicesAndRestartsIds) {
    emu_add_device("Vanta", nullptr, nullptr);
    emu_reset();
    EXPECT_EQ(emu_device_count(), 0);
    EXPECT_TRUE(enumerate().empty());
    EXPECT_EQ(emu_add_device("DMM", nullptr, nullptr), 0);
    EXPECT_EQ(emu_add_device("Vantage", nullptr, nullptr), -1);
    EXPECT_EQ(emu_add_device(nullptr, nullptr, nullptr), -1);
}

TEST_F(Enumeration, ListIsASnapshot) {
    const int dev = emu_add_device("Vanta", "A", nullptr);
    hid_device_info *head = hid_enumerate(0, 0);
    ASSERT_NE(head, nullptr);
    emu_set_product_string(dev, L"Changed");
    emu_unplug(dev);
    EXPECT_EQ(std::wstring(head->product_string), L"Vanta");
    hid_free_enumeration(head);
}

}  // namespace
