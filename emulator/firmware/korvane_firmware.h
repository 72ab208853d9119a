/* The firmware models of the emulated devices, without any HID transport.
 *
 * libkorvane_firmware.so computes a device's answers to host reports with
 * the same firmware models libkorvane_emu.so serves through its hidapi
 * stand-in, but exports only these functions: a program may load it next to
 * the system's hidapi (a test harness that puts the devices on emulated
 * hidraw nodes, say) without any hid_* symbol of its own.
 *
 * A model is used through its handle; every function is thread-safe (each
 * model has its own lock). Ints are 0 (or a count or length) on success and
 * -1 for a null handle or a bad argument.
 */
#ifndef KORVANE_FIRMWARE_H
#define KORVANE_FIRMWARE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The size of every report, host or device, without report number. */
#define KFW_REPORT_SIZE 64

typedef struct kfw_model kfw_model;

/* A model at power-up: product "Vanta", "Brondel HUB" or "DMM", with the
 * serial number its identity attribute 3 reads (UTF-8, NULL: empty). NULL
 * for an unknown product. */
kfw_model *kfw_create(const char *product, const char *serial);
void kfw_destroy(kfw_model *model);

/* Hands one host report (the 64 bytes after the report number) to the
 * firmware and copies its answers, KFW_REPORT_SIZE bytes each, into
 * answers (room for capacity reports). Returns the number of answers, or
 * -1 when they do not fit (the request is then not carried out). */
int kfw_handle_report(kfw_model *model, const uint8_t *report, uint8_t *answers, int capacity);

/* An attribute's value as a host read gets it (get: its length, or -1), and
 * a set that also reaches read-only attributes and serves unserved ids. */
int kfw_set_attribute(kfw_model *model, uint16_t attid, const uint8_t *value, int len);
int kfw_get_attribute(kfw_model *model, uint16_t attid, uint8_t *out, int capacity);

/* Vanta ADC channel 0..7; DMM reading 0x8101 (voltage) or 0x8102 (current),
 * base + amplitude * sin(2 pi t / period_ms) (constant with period 0). */
int kfw_set_adc(kfw_model *model, int channel, uint32_t value);
int kfw_set_reading(kfw_model *model, uint16_t attid, float base, float amplitude, int period_ms);

/* A register of the I2C target at address behind the bridge (Vanta, DMM);
 * get: its value or -1. */
int kfw_set_i2c_register(kfw_model *model, uint8_t address, uint8_t reg, uint16_t value);
int kfw_get_i2c_register(kfw_model *model, uint8_t address, uint8_t reg);

#ifdef __cplusplus
}
#endif

#endif
