// Fuzz target: the road from the bytes of a received report to a stored
// attribute value. The input is what hid_read would leave in the receive
// buffer; the target classifies it as the service does, stores the value of
// an accepted read answer and reads it back through every getter, checking
// the acceptance rules and that a refused value leaves the attribute as it was.
// The tail of the input also drives the request encoder and the framing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Attribute.h"
#include "KorDevice.h"
#include "PacketCodec.h"
#include "korPacket.h"

using namespace korvane;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// Reads every view of the value; the sanitizers catch any read outside it.
void readAllViews(Attribute &attribute) {
    volatile uint64_t sink = 0;
    sink += attribute.getValueUint8() + static_cast<uint8_t>(attribute.getValueInt8());
    sink += attribute.getValueUint16() + static_cast<uint16_t>(attribute.getValueInt16());
    sink += attribute.getValueUint32() + static_cast<uint32_t>(attribute.getValueInt32());
    sink += attribute.getValueUint64() + static_cast<uint64_t>(attribute.getValueInt64());
    float f = attribute.getValueFloat();
    double d = attribute.getValueDouble();
    uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    sink += bits + static_cast<uint64_t>(f == f);
    const char *text = attribute.getValueStr();
    check(std::strlen(text) <= VALUE_LEN);
    const wchar_t *wide = attribute.getValueU8str();
    size_t units = 0;
    while (wide[units] != 0)
        ++units;  // must stop inside the storage
    sink += units;
    (void)sink;
}

// The answer checks by their definition, independent of the codec.
bool expectReadOk(const uint8_t *p) { return (p[0] & 0xC0) == 0 && p[1] == 0x13 && p[2] == 1; }
bool expectWriteOk(const uint8_t *p) { return p[0] == 3 && p[1] == 0x12 && p[2] == 1; }

void receivedReport(const uint8_t *data, size_t size) {
    korPacket received;
    // hid_read fills at most 64 bytes; the rest keeps what an earlier read
    // left, which the fuzzer supplies too.
    std::memset(received.dat, 0x5A, sizeof received.dat);
    std::memcpy(received.dat, data, size < sizeof received.dat ? size : sizeof received.dat);

    check(packet::isNotification(received.dat) == (received.dat[1] == EVT_NOTIFY));
    check(packet::isWriteOk(received.dat) == expectWriteOk(received.dat));

    Attribute attribute(0x8101, 0, 0);
    attribute.setValue(static_cast<uint32_t>(0xC0FFEE11u));
    uint8_t before[VALUE_LEN + 1];
    std::memcpy(before, attribute.rawBytes(), sizeof before);

    uint8_t valueLen = 0xEE;
    const bool accepted = packet::isReadOk(received.dat, &valueLen);
    check(accepted == expectReadOk(received.dat));
    if (!accepted)
        return;
    check(valueLen == static_cast<uint8_t>((received.dat[0] & 0x3F) - 3));

    const bool refused = attribute.setValue(received.dat + packet::kAnswerHeaderLen, valueLen);
    check(refused == (valueLen > VALUE_LEN));
    if (refused) {
        check(attribute.getValueLength() == 4);
        check(std::memcmp(attribute.rawBytes(), before, sizeof before) == 0);
    } else {
        check(attribute.getValueLength() == valueLen);
        check(std::memcmp(attribute.rawBytes(), received.dat + 3, valueLen) == 0);
    }
    readAllViews(attribute);
}

// Encodes a write of the input's value to the input's attribute id and a
// read of it, and checks the layouts byte for byte.
void requestEncoding(const uint8_t *data, size_t size) {
    if (size < 3)
        return;
    const uint16_t attid = static_cast<uint16_t>(data[0] << 8 | data[1]);
    const uint8_t n = static_cast<uint8_t>(data[2] % (VALUE_LEN + 1));
    uint8_t value[VALUE_LEN] = {};
    std::memcpy(value, data + 3, size - 3 < n ? size - 3 : n);

    Attribute attribute(attid, 0, 0);
    check(!attribute.setValue(value, n));
    uint8_t out[packet::kMaxPacketLen];
    std::memset(out, 0xCC, sizeof out);
    const size_t len = packet::encodeWrite(attribute, out);
    check(len == 4u + n);
    check(out[0] == 4 + n && out[1] == OP_ATT_VALUE_SET && out[2] == data[0] && out[3] == data[1]);
    check(std::memcmp(out + 4, value, n) == 0);

    uint8_t report[BUF_LEN];
    std::memset(report, 0xCC, sizeof report);
    KorDevice::frameReport(out, len, report);
    check(report[0] == 0 && std::memcmp(report + 1, out, len) == 0);
    for (size_t i = len + 1; i < sizeof report; ++i)
        check(report[i] == 0);

    check(packet::encodeRead(attid, out) == 4);
    check(out[0] == 4 && out[1] == OP_ATT_VALUE_GET && out[2] == data[0] && out[3] == data[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    receivedReport(data, size);
    requestEncoding(data, size);
    return 0;
}
