// The state file: every device and its firmware state written by
// emu_save_state and read back by emu_load_state; files that are not valid
// state leave the devices as they were and say why.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "EmuTestSupport.h"

using namespace emutest;

namespace {

std::string tempPath(const std::string &name) {
    return ::testing::TempDir() + "emu-state-" + std::to_string(::getpid()) + "-" + name;
}

std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string stateError() {
    char message[512];
    emu_state_error(message, sizeof message);
    return message;
}

Bytes attribute(int dev, uint16_t attid) {
    uint8_t out[64];
    const int n = emu_get_attribute(dev, attid, out, sizeof out);
    return n < 0 ? Bytes{0xEE} : Bytes(out, out + n);  // 0xEE: the read would fail
}

// What hosts and tests can observe of every device, except time-varying
// readings: enumeration records, attribute values, I2C registers,
// calibration runs.
std::string snapshot() {
    std::ostringstream out;
    hid_device_info *head = hid_enumerate(0, 0);
    for (hid_device_info *d = head; d; d = d->next) {
        out << d->path << ' ' << std::hex << d->vendor_id << ':' << d->product_id << ' '
            << d->interface_number << ' ';
        for (const wchar_t *text : {d->serial_number, d->product_string, d->manufacturer_string}) {
            if (!text)
                out << "(none)";
            for (; text && *text; ++text)
                out << unsigned(*text) << ',';
            out << ' ';
        }
        out << '\n';
    }
    hid_free_enumeration(head);
    const uint16_t ids[] = {0,      1,      2,      3,      4,      0x1200, 0x1201, 0x1202,
                            0x1203, 0x1300, 0x1302, 0x1305, 0x1307, 0x1400, 0x1401, 0x1402,
                            0x1405, 0x8000, 0x8100, 0x8101, 0x9000, 0x9001};
    for (int dev = 0; dev < emu_device_count(); ++dev) {
        out << "device " << dev << " runs " << emu_calibration_count(dev) << '\n';
        for (uint16_t id : ids) {
            out << id << '=';
            for (uint8_t b : attribute(dev, id))
                out << unsigned(b) << ',';
            out << ' ';
        }
        for (int address : {0x23, 0x40, 0x41})
            for (int reg : {0x00, 0x05, 0x11, 0xFF})
                out << address << '/' << reg << '='
                    << emu_get_i2c_register(dev, uint8_t(address), uint8_t(reg)) << ' ';
        out << '\n';
    }
    return out.str();
}

// No "<path>.tmp..." file is left beside path.
void expectNoTemporaryFile(const std::string &path) {
    const std::string dir = ::testing::TempDir();
    const std::string prefix = path.substr(dir.size()) + ".tmp";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    for (dirent *e; (e = readdir(d));)
        EXPECT_NE(std::string(e->d_name).rfind(prefix, 0), 0u) << e->d_name;
    closedir(d);
}

class State : public EmuTest {
protected:
    void TearDown() override {
        for (const std::string &path : files_)
            std::remove(path.c_str());
        EmuTest::TearDown();
    }
    std::string file(const std::string &name) {
        files_.push_back(tempPath(name));
        return files_.back();
    }

private:
    std::vector<std::string> files_;
};

}  // namespace

TEST_F(State, RoundTripKeepsEveryDevicesState) {
    const int board = emu_add_device("Vanta", "VT-\"\\\x01\xC3\xA9", "/dev/bench:board");
    const int hub = emu_add_device("Brondel HUB", nullptr, nullptr);
    const int meter = emu_add_device("DMM", "DM-7", nullptr);
    ASSERT_EQ(meter, 2);

    // The board: pins, pulls, latch and outside levels, ADC, the I2C bus,
    // identity, USB record, an added and a removed attribute.
    const uint8_t direction[] = {0x0F, 0xFF, 0x00, 0x80}, pulls[] = {0x05}, latch[] = {0xF0, 0x0F};
    ASSERT_EQ(emu_set_attribute(board, 0x1200, direction, 4), 0);
    ASSERT_EQ(emu_set_attribute(board, 0x1201, pulls, 1), 0);
    ASSERT_EQ(emu_set_attribute(board, 0x1202, pulls, 1), 0);
    ASSERT_EQ(emu_set_attribute(board, 0x1203, latch, 2), 0);
    ASSERT_EQ(emu_set_gpio_external(board, 0x0000FF0A, 0xFFFF0008), 0);
    ASSERT_EQ(emu_set_adc(board, 2, 0xFFFFFFFF), 0);
    ASSERT_EQ(emu_add_i2c_target(board, 0x23), 0);
    ASSERT_EQ(emu_set_i2c_register(board, 0x23, 0xFF, 0xBEEF), 0);
    ASSERT_EQ(emu_set_i2c_register(board, 0x40, 0x05, 0x0102), 0);
    const uint8_t address[] = {0x23}, pointer[] = {0xFF}, revision[] = {'B', 0, 7};
    ASSERT_EQ(emu_set_attribute(board, 0x1400, address, 1), 0);
    ASSERT_EQ(emu_set_attribute(board, 0x1401, pointer, 1), 0);
    ASSERT_EQ(emu_set_attribute(board, 2, revision, 3), 0);
    const uint8_t plain[] = {1, 2, 3};
    ASSERT_EQ(emu_set_attribute(board, 0x9000, plain, 3), 0);
    ASSERT_EQ(emu_remove_attribute(board, 0x1305), 0);
    ASSERT_EQ(emu_set_ids(board, 0x1234, 0x5678), 0);
    ASSERT_EQ(emu_set_product_string(board, L"V\u00e4nta \u2603 \U0001F600"), 0);
    ASSERT_EQ(emu_set_manufacturer_string(board, nullptr), 0);
    ASSERT_EQ(emu_set_interface_count(board, 2), 0);
    // The hub's ports and pins; the meter's calibration, readings and monitor.
    const uint8_t ports[] = {0x05, 0x00, 0x00, 0x80};
    ASSERT_EQ(emu_set_attribute(hub, 0x8000, ports, 4), 0);
    ASSERT_EQ(emu_set_gpio_external(hub, 0x1, 0x1), 0);
    {
        Handle h(hid_open_path("/dev/emu-hidraw2"));
        ASSERT_TRUE(h);
        ASSERT_EQ(transact(h.get(), writeRequest(0x8100, {0, 0, 0, 0})), kWriteOk);
    }
    ASSERT_EQ(emu_set_calibration(meter, -7, 1, 2, -128), 0);
    ASSERT_EQ(emu_set_reading(meter, 0x8101, 3.3f, 0.0f, 0), 0);
    ASSERT_EQ(emu_set_reading(meter, 0x8102, 0.1f, 0.05f, 250), 0);
    ASSERT_EQ(emu_remove_i2c_target(meter, 0x40), 0);
    ASSERT_EQ(emu_add_i2c_target(meter, 0x41), 0);
    ASSERT_EQ(emu_set_i2c_register(meter, 0x41, 0x11, 0x7FFF), 0);

    const std::string before = snapshot();
    const std::string path = file("round-trip.json");
    ASSERT_EQ(emu_save_state(path.c_str()), 0) << stateError();
    emu_reset();
    emu_add_device("DMM", "other", nullptr);
    ASSERT_EQ(emu_load_state(path.c_str()), 0) << stateError();
    EXPECT_EQ(stateError(), "");
    EXPECT_EQ(emu_device_count(), 3);
    EXPECT_EQ(snapshot(), before);

    // Saving the loaded devices writes the same text: nothing (the varying
    // reading included) was lost or changed on the way.
    const std::string again = file("again.json");
    ASSERT_EQ(emu_save_state(again.c_str()), 0) << stateError();
    EXPECT_EQ(readText(again), readText(path));
}

TEST_F(State, LoadedDevicesAnswerTheHostAndStartFromPowerUpWhereLeftOut) {
    const std::string path = file("short.json");
    writeText(path, R"({"devices": [
        {"model": "Vanta", "gpio": {"direction": 4294967263, "output": 32}},
        {"model": "DMM", "serial": "DM-9", "path": "/dev/m"}]})");
    ASSERT_EQ(emu_load_state(path.c_str()), 0) << stateError();
    char where[64];
    ASSERT_EQ(emu_get_path(0, where, sizeof where), 16);
    EXPECT_STREQ(where, "/dev/emu-hidraw0");
    Handle board(hid_open_path("/dev/emu-hidraw0"));
    ASSERT_TRUE(board);
    EXPECT_EQ(readValue(board.get(), 0x1203), okRead(le32(0x20)));  // pin 5 driven high
    EXPECT_EQ(readValue(board.get(), 0x1301), okRead(le32(600)));
    Handle meter(hid_open_path("/dev/m"));
    ASSERT_TRUE(meter);
    EXPECT_EQ(readValue(meter.get(), 3), okRead({'D', 'M', '-', '9', 0}));
    EXPECT_EQ(emu_get_i2c_register(1, 0x40, 0xFF), 0x2260);
}

struct BadFile {
    const char *name;
    const char *text;
    const char *message;  // a part of what emu_state_error says
};

class BadState : public State, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadState, IsRefusedWithItsReasonAndChangesNothing) {
    const BadFile &c = GetParam();
    ASSERT_EQ(emu_add_device("Vanta", "VT-KEEP", nullptr), 0);
    const std::string before = snapshot();
    const std::string path = file(c.name);
    if (c.text)
        writeText(path, c.text);
    EXPECT_EQ(emu_load_state(path.c_str()), -1);
    EXPECT_NE(stateError().find(c.message), std::string::npos) << stateError();
    EXPECT_EQ(snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadState,
    ::testing::Values(
        BadFile{"Missing", nullptr, "No such file"},
        BadFile{"NotJson", "garbage", "line 1, column 1: unexpected character 'g'"},
        BadFile{"Truncated", "{\"devices\": [\n", "line 2, column 1: unexpected end"},
        BadFile{"TrailingText", "{\"devices\": []} x", "unexpected text after"},
        BadFile{"NoDevices", "{}", "devices: missing"},
        BadFile{"OtherVersion", "{\"version\": 2, \"devices\": []}", "reads version 1"},
        BadFile{"UnknownModel", "{\"devices\": [{\"model\": \"Toaster\"}]}", "unknown model"},
        BadFile{"MisspeltMember",
                "{\"devices\": [{\"model\": \"Vanta\", \"gpio\": {\"pullup\": 1}}]}",
                "devices[0].gpio.pullup: unknown member"},
        BadFile{"BlockOfAnotherModel", "{\"devices\": [{\"model\": \"DMM\", \"ports\": 1}]}",
                "devices[0].ports: unknown member"},
        BadFile{
            "OutOfRange",
            "{\"devices\": [{\"model\": \"Vanta\", \"adc\": [0, 0, 4294967296, 0, 0, 0, 0, 0]}]}",
            "devices[0].adc[2]: expected an integer from 0 to 4294967295"},
        BadFile{"NotAnInteger", "{\"devices\": [{\"model\": \"Brondel HUB\", \"ports\": 1.5}]}",
                "devices[0].ports: expected an integer"},
        BadFile{"BusAddress",
                "{\"devices\": [{\"model\": \"Vanta\", \"i2c\": {\"targets\": {\"0x80\": {}}}}]}",
                "devices[0].i2c.targets: \"0x80\" is not a number"},
        BadFile{"OddHex",
                "{\"devices\": [{\"model\": \"Vanta\", \"attributes\": {\"0x9000\": \"abc\"}}]}",
                "pairs of hex digits"},
        BadFile{"DuplicateMember", "{\"devices\": [], \"devices\": []}", "given twice"},
        BadFile{"LoneSurrogate", "{\"devices\": [{\"model\": \"\\ud800\"}]}", "unpaired surrogate"},
        BadFile{"DeepNesting",
                "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[",
                "nested too deeply"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(State, SaveReplacesTheFileWholeAndLeavesNoTemporaryFile) {
    emu_add_device("DMM", "DM-1", nullptr);
    const std::string path = file("replace.json");
    writeText(path, std::string(100000, 'x'));
    ASSERT_EQ(emu_save_state(path.c_str()), 0) << stateError();
    const std::string text = readText(path);
    EXPECT_EQ(text.find('x' + std::string(9, 'x')), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    expectNoTemporaryFile(path);

    const std::string dir = ::testing::TempDir();
    EXPECT_EQ(emu_save_state((dir + "no-such-dir/state.json").c_str()), -1);
    EXPECT_NE(stateError().find("cannot create"), std::string::npos) << stateError();
}

// Two threads saving one path (emu_save_state beside the save at exit, say)
// take turns: every save succeeds and what is published is always a whole
// file.
TEST_F(State, ConcurrentSavesOfOnePathEachPublishAWholeFile) {
    emu_add_device("Vanta", "VT-1", nullptr);
    emu_add_device("DMM", "DM-1", nullptr);
    const std::string before = snapshot();
    const std::string path = file("concurrent.json");
    std::string errors[2];
    std::vector<std::thread> savers;
    for (std::string &error : errors)
        savers.emplace_back([&path, &error] {
            for (int i = 0; i < 100 && error.empty(); ++i)
                if (emu_save_state(path.c_str()) != 0)
                    error = stateError();
        });
    for (std::thread &saver : savers)
        saver.join();
    EXPECT_EQ(errors[0] + errors[1], "");
    emu_reset();
    ASSERT_EQ(emu_load_state(path.c_str()), 0) << stateError();
    EXPECT_EQ(snapshot(), before);
    expectNoTemporaryFile(path);
}
