// Read probe: counts the input reports the library under test reads from
// each emulated device, so a test can wait until the receive thread has
// taken reports in (a bounded wait on that event) instead of sleeping for a
// guessed poll time. The emulator's traffic log shows what a device sent, not
// what the host has read yet; the probe fills that gap.
//
// The probe defines hid_read and hid_read_timeout in the test executable.
// Those definitions take the library's calls (the library is linked
// statically into the executable) and pass them on to the emulated hidapi.
#ifndef KORVANE_TESTS_HID_READ_PROBE_H
#define KORVANE_TESTS_HID_READ_PROBE_H

#include <chrono>
#include <string>

namespace hid_probe {

// Reports read so far through any handle opened on path (since the start of
// the process; compare against a count taken before the event).
long reportsRead(const std::string &path);

// Waits until reportsRead(path) reaches count, at most bound; returns the
// count then (below count when the bound passed first).
long awaitReportsRead(const std::string &path, long count,
                      std::chrono::milliseconds bound = std::chrono::seconds(10));

}  // namespace hid_probe

#endif
