#include <gtest/gtest.h>

#include <string>

#include "HidBackend.h"
#include "KorDeviceManager.h"
#include "korvane_emu.h"

namespace {

using namespace korvane;

// The emulated HID library's file, as the loader finds it from this test.
#ifndef KORVANE_EMU_TEST_LIB
#error "KORVANE_EMU_TEST_LIB names the emulated HID library"
#endif

// Each test runs in a process of its own, so the choice starts open here.
TEST(HidBackend, ChosenOnceBeforeFirstUseAndAMissingLibraryIsNamed) {
    EXPECT_EQ("", hidBackendInUse());
    const std::string missing =
        useHidBackend(HidBackend::Emulator, "no-such-folder/no-such-library");
    EXPECT_EQ(
        "the emulated HID library was not found (tried no-such-folder/no-such-library; set "
        "KORVANE_EMU_LIB)",
        missing);
    EXPECT_EQ("", hidBackendInUse());

    ASSERT_EQ("", useHidBackend(HidBackend::Emulator, KORVANE_EMU_TEST_LIB));
    emu_reset();
    emu_add_device("DMM", "DM-9", "/dev/emu-backend");
    KorDeviceManager manager;
    EXPECT_STREQ("/dev/emu-backend", manager.getPathByNameAndSerial("DMM", "DM-9"));

    EXPECT_EQ("emulator", hidBackendInUse());
    EXPECT_EQ("", useHidBackend(HidBackend::Emulator));
    EXPECT_EQ(
        "too late to choose the system HID backend: the emulator one is in use in this process "
        "(choose before the first listing or open)",
        useHidBackend(HidBackend::System));
}

}  // namespace
