/* Control API of the emulated HID library.
 *
 * libkorvane_emu.so exports the whole hidapi 0.13 C API (see hidapi.h) and
 * serves it from emulated devices: firmware models of the Vanta I/O board,
 * the Brondel HUB and the DMM meter. These functions add, configure and
 * inspect those devices and inject faults. All are thread-safe and may be
 * called while the library under test is talking to the devices.
 *
 * Devices are identified by the id that emu_add_device returns (>= 0).
 * Functions returning int give 0 (or a count/id) on success and -1 for an
 * unknown device or bad argument.
 */
#ifndef KORVANE_EMU_H
#define KORVANE_EMU_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Removes every device and clears all state (open handles become dead:
 * their reads and writes return -1). Does not touch KORVANE_EMU_DEVICES. */
void emu_reset(void);

/* Adds a device running the firmware model named model ("Vanta",
 * "Brondel HUB" or "DMM"), with the given serial number (ASCII/UTF-8, may be
 * NULL for none) and platform path (NULL: "/dev/emu-hidrawN"). The device
 * enumerates with vendor 0x04D8, product 0xECD0, its model name as product
 * string and "Korvane Emulated" as manufacturer. Returns the device id or
 * -1 for an unknown model. */
int emu_add_device(const char *model, const char *serial, const char *path);
/* Number of devices added (unplugged ones included). */
int emu_device_count(void);
/* Copies the device's path (as hid_enumerate lists interface 0) with its
 * terminating zero into out; returns its length, -1 if it does not fit. */
int emu_get_path(int dev, char *out, int capacity);

/* Enumeration record overrides (wide strings may hold any characters).
 * They change what hid_enumerate and handles opened afterwards report, not
 * the identity attributes 0..4 the firmware answers (set those with
 * emu_set_attribute). */
int emu_set_ids(int dev, uint16_t vendor_id, uint16_t product_id);
int emu_set_product_string(int dev, const wchar_t *product); /* NULL: none */
int emu_set_serial_string(int dev, const wchar_t *serial);   /* NULL: none */
int emu_set_manufacturer_string(int dev, const wchar_t *manufacturer);
/* Number of HID interfaces listed by hid_enumerate (1..16, default 1);
 * every interface enumerates as its own record with path "<path>:<n>" for
 * n > 0, and all of them talk to the same firmware. */
int emu_set_interface_count(int dev, int count);

/* Raw attribute storage of the firmware model: the value bytes the device
 * answers for a value read (identity texts 0..4, ADC channels, GPIO masks,
 * port mask, readings, ...). Setting an attribute the model does not serve
 * makes it served. get returns the value length or -1. */
int emu_set_attribute(int dev, uint16_t attid, const uint8_t *value, int len);
int emu_get_attribute(int dev, uint16_t attid, uint8_t *out, int capacity);
/* Makes the model stop serving attid (reads and writes get RC_FAIL). */
int emu_remove_attribute(int dev, uint16_t attid);

/* Vanta / Brondel HUB GPIO: levels applied from outside to input pins
 * (bit n = pin n; only pins whose mask bit is set are driven from outside;
 * other input pins read their pull-up / pull-down level). */
int emu_set_gpio_external(int dev, uint32_t driven_mask, uint32_t levels);

/* ADC channel value (Vanta, channel 0..7). */
int emu_set_adc(int dev, int channel, uint32_t value);

/* I2C targets behind the bridge (Vanta, DMM): 7-bit address, 256 16-bit
 * registers each. Both bridges address 0x40 at power-up and find a target
 * there: on the Vanta a plain register file of zeros, on the DMM a power
 * monitor (die id register 0xFF = 0x2260, registers 0x00..0x11 settable).
 * Adding an existing target keeps its registers. */
int emu_add_i2c_target(int dev, uint8_t address);
/* Takes a target off the bus: transfers addressed to it get RC_FAIL. */
int emu_remove_i2c_target(int dev, uint8_t address);
int emu_set_i2c_register(int dev, uint8_t address, uint8_t reg, uint16_t value);
int emu_get_i2c_register(int dev, uint8_t address, uint8_t reg); /* value or -1 */

/* DMM readings: voltage and current as single floats; with amplitude and
 * period_ms > 0 the reading varies as base + amplitude*sin(2*pi*t/period). */
int emu_set_reading(int dev, uint16_t attid, float base, float amplitude, int period_ms);
/* DMM calibration offsets (what a read of 0x8100 gives) and the number of
 * calibrations run (writes of the 32-bit 0 to 0x8100). */
int emu_set_calibration(int dev, int8_t low_current, int8_t high_current, int8_t low_voltage,
                        int8_t high_voltage);
int emu_calibration_count(int dev);

/* Faults. */
int emu_set_refuse_open(int dev, int refuse);                  /* hid_open* gives NULL */
int emu_set_mute(int dev, int mute);                           /* requests get no answer */
int emu_set_answer_delay(int dev, int delay_ms);               /* answers come late */
int emu_set_fail_attribute(int dev, uint16_t attid, int fail); /* RC_FAIL, not carried out */
/* Answers every request for attid with these raw bytes (len 0..64, zero
 * padded) instead of the computed answer, without carrying the request
 * out; len < 0 removes the override. */
int emu_set_raw_answer(int dev, uint16_t attid, const uint8_t *bytes, int len);
/* Sends count (0..1000) notifications before each answer: 04 A0 idH idL,
 * naming the attribute of the request. */
int emu_set_notifications_before_answer(int dev, int count);
/* Queues a report (len 0..64 bytes, zero padded) from the device now, as if
 * it sent it on its own (a notification, a stray or a stale answer): an
 * answer no request asked for. -1 while unplugged. */
int emu_inject_report(int dev, const uint8_t *bytes, int len);
/* One-shot faults: each applies to the next answer it fits, then disarms.
 * Arming one again before it is used replaces its value.
 * The answer (and notifications) to the next request become readable
 * delay_ms (0..600000) later, on top of any answer delay; later answers are
 * prompt and overtake it. Logged when sent, as with the answer delay. */
int emu_delay_next_answer(int dev, int delay_ms);
/* The next success answer (byte 2 = 1, opcode 0x12 or 0x13, raw answers
 * excepted) carries a value of value_len (0..61) bytes: the value cut, or
 * padded with 0xA5, and byte 0 set to 3 + value_len. Failure answers leave
 * it armed. */
int emu_resize_next_answer(int dev, int value_len);
/* The next answer goes out twice, back to back. */
int emu_duplicate_next_answer(int dev);
/* Unplugged: leaves enumeration, open handles fail (-1), opens fail.
 * Plugged back: enumerates again; old handles stay dead. */
int emu_unplug(int dev);
int emu_replug(int dev);

/* Traffic log of one device, in order. */
enum emu_log_kind {
    EMU_LOG_HOST_REPORT = 0,  /* a report the device received (64 bytes) */
    EMU_LOG_DEVICE_REPORT = 1 /* a report the device sent (64 bytes) */
};
struct emu_log_entry {
    int kind;           /* enum emu_log_kind */
    uint8_t report[64]; /* the payload bytes, without report number */
    /* For host reports that parse as requests: opcode 0x12 or 0x13 (else 0),
     * attribute id and the value bytes of a write. For device reports: the
     * opcode when byte 1 is 0x12, 0x13 or 0xA0 (else 0), the attribute id of
     * the request answered (0 for injected reports) and the value bytes of a
     * successful read answer. */
    int opcode;
    uint16_t attid;
    uint8_t value[64];
    int value_len;
};
int emu_log_count(int dev);
int emu_log_get(int dev, int index, struct emu_log_entry *out);
int emu_log_clear(int dev);

/* State file (JSON): the devices (model, serial number, path, USB identity)
 * and their firmware state: attribute values, GPIO masks and outside
 * levels, ADC values, I2C targets and registers, readings, calibration
 * offsets, the hub's port mask. Faults, logs and handles are not kept.
 * emu_save_state writes it atomically (a temporary file renamed over path).
 * emu_load_state replaces every device with those of the file (handles open
 * on the old ones turn dead, as after emu_reset); when the file cannot be
 * read or is not a valid state file the devices stay as they were.
 * With KORVANE_EMU_STATE naming a file, the library loads it at its first
 * use in the process (when it exists) and saves to it at process exit. */
int emu_save_state(const char *path);
int emu_load_state(const char *path);
/* Why this thread's last emu_save_state / emu_load_state failed ("" after a
 * success): copies up to capacity - 1 bytes and a terminating zero into out,
 * returns the message's full length. */
int emu_state_error(char *out, int capacity);

/* Number of hid_device handles currently open (not yet hid_close'd) on the
 * devices added since the last emu_reset, dead ones included. */
int emu_open_handle_count(void);

#ifdef __cplusplus
}
#endif

#endif
