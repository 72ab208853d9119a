// pykorvane._core: the thin binding under the pykorvane package.
//
// Every operation hands back how it ended as plain values, a tuple
// (status, return_code, value): status is one of the STATUS_* numbers
// (AttributeStatus), return_code the device's code for a refusal, value the
// result of a read (None for operations that only act). The Python layer
// turns statuses into exceptions and checks arguments before they get here.
//
// Every call that may talk to a device (or wait for another thread's call on
// the same connection) runs without the interpreter lock: the core never
// calls back into Python. Arguments are converted before the lock is let go
// and results are converted after it is taken back.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "AdcInputs.h"
#include "AttributeStatus.h"
#include "Board.h"
#include "CallGuard.h"
#include "Connection.h"
#include "Gpio.h"
#include "HotplugMonitor.h"
#include "Hub.h"
#include "I2c.h"
#include "KorDeviceManager.h"
#include "Meter.h"
#include "Products.h"
#include "ServiceAnchor.h"
#include "version.h"

namespace py = pybind11;
// The binding names the core's classes and constants throughout.
using namespace korvane;

namespace {

using Released = py::call_guard<py::gil_scoped_release>;

// The classes are plain Python types (metaclass type rather than pybind11's
// own), so that the typing stub _core.pyi describes them exactly; nothing
// here relies on what pybind11's metaclass adds (static properties,
// subclasses written in Python).
py::metaclass plainType() { return py::metaclass(reinterpret_cast<PyObject *>(&PyType_Type)); }

// (status, return code, nothing)
using Done = std::tuple<int, int, std::nullopt_t>;
template <typename T>
using Read = std::tuple<int, int, T>;

Done done(AttributeResult result) {
    return Done{static_cast<int>(result.status), result.returnCode, std::nullopt};
}

template <typename T>
Read<T> read(const Outcome<T> &outcome) {
    return Read<T>{static_cast<int>(outcome.result.status), outcome.result.returnCode,
                   outcome.valueOr(T())};
}

using Record = std::tuple<std::string, std::string, std::string, std::string, int, int>;

// path, product, serial, manufacturer, release, interface number; with
// product or serial (UTF-8 bytes) only the devices whose texts match them
// as the core matches texts (listedTextMatches), as the korvane module does.
std::vector<Record> attachedDevices(const std::optional<std::string> &product,
                                    const std::optional<std::string> &serial) {
    std::vector<Record> records;
    for (const AttachedDevice &found : listAttachedDevices(product, serial)) {
        records.emplace_back(found.path, found.product, found.serial, found.manufacturer,
                             found.release, found.interfaceNumber);
    }
    return records;
}

using Offsets = std::tuple<int, int, int, int>;

Read<Offsets> offsets(Meter &meter) {
    const Outcome<Meter::CalibrationOffsets> got = meter.calibrationOffsets();
    const Meter::CalibrationOffsets o = got.valueOr(Meter::CalibrationOffsets{});
    return Read<Offsets>{static_cast<int>(got.result.status), got.result.returnCode,
                         Offsets{o.lowCurrent, o.highCurrent, o.lowVoltage, o.highVoltage}};
}

// An identity text as str. The device's bytes need not be UTF-8 (a text cut
// at the 32-byte limit may end inside a character): bytes that do not decode
// become lone surrogates (surrogateescape), as in the SWIG module, instead of
// pybind11's strict decoding raising UnicodeDecodeError. The device is read
// without the interpreter lock, the text converted with it.
py::tuple identity(Connection &core, int attid) {
    const Outcome<std::string> got = [&] {
        py::gil_scoped_release released;
        return core.identity(attid);
    }();
    const std::string bytes = got.valueOr("");
    PyObject *decoded = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()),
                                             "surrogateescape");
    if (decoded == nullptr) {
        throw py::error_already_set();
    }
    return py::make_tuple(static_cast<int>(got.result.status), got.result.returnCode,
                          py::reinterpret_steal<py::str>(decoded));
}

// A model's block as Python holds it: a copy that talks through the model's
// service while the model lives and fails as not open once it is gone, so a
// block kept after its device object was dropped does not hold the device
// open. Copied under the connection's call lock.
template <typename Model, typename Block>
py::cpp_function blockOf(Block Model::*member) {
    return py::cpp_function(
        [member](Model &model) {
            const Block &block = model.*member;
            ServiceLease lease(block.anchor());
            CallGuard call(lease.link());
            return Block(block);
        },
        py::return_value_policy::move);
}

// ---- Hotplug: waiting for devices to arrive and leave.

// (kind, record): kind "added" or "removed", the record as attached_devices
// gives it.
using HotplugRecord = std::tuple<std::string, Record>;

// The monitor's events, waiting up to timeout_ms (negative: no bound) for
// the first: empty when none came in time or the monitor is stopped. The
// wait runs without the interpreter lock, in slices with a look at the
// signals between them, so Ctrl-C (or a signal handler that raises) ends it
// in the main thread.
std::vector<HotplugRecord> hotplugWait(HotplugMonitor &monitor, long long timeoutMs) {
    using Clock = std::chrono::steady_clock;
    constexpr long long kSliceMs = 100;
    const Clock::time_point start = Clock::now();
    std::vector<HotplugEvent> events;
    for (;;) {
        long long sliceMs = kSliceMs;
        if (timeoutMs >= 0) {
            const long long elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            sliceMs = std::min(kSliceMs, std::max(timeoutMs - elapsed, 0LL));
        }
        bool running = true;
        {
            py::gil_scoped_release released;
            events = monitor.wait(static_cast<int>(sliceMs));
            running = monitor.running();
        }
        if (!events.empty() || !running || sliceMs < kSliceMs) {
            break;  // events, a stopped monitor, or the bound reached
        }
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    }
    std::vector<HotplugRecord> records;
    for (const HotplugEvent &event : events) {
        const AttachedDevice &d = event.device;
        records.emplace_back(event.kind == HotplugEvent::Kind::Added ? "added" : "removed",
                             Record{d.path, d.product, d.serial, d.manufacturer, d.release,
                                    d.interfaceNumber});
    }
    return records;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "Thin binding of the Korvane core; use the pykorvane package instead.";

    m.attr("STATUS_OK") = static_cast<int>(AttributeStatus::Ok);
    m.attr("STATUS_NOT_OPEN") = static_cast<int>(AttributeStatus::NotOpen);
    m.attr("STATUS_NO_ANSWER") = static_cast<int>(AttributeStatus::NoAnswer);
    m.attr("STATUS_REFUSED") = static_cast<int>(AttributeStatus::Refused);
    m.attr("STATUS_MALFORMED") = static_cast<int>(AttributeStatus::Malformed);
    m.attr("STATUS_GONE") = static_cast<int>(AttributeStatus::Gone);
    m.attr("STATUS_BAD_ARGUMENT") = static_cast<int>(AttributeStatus::BadArgument);
    m.attr("STATUS_UNPAIRED") = static_cast<int>(AttributeStatus::Unpaired);

    m.attr("OPEN_UNAVAILABLE") = static_cast<int>(Connection::OpenStatus::Unavailable);
    m.attr("OPEN_BUSY") = static_cast<int>(Connection::OpenStatus::Busy);
    m.attr("OPEN_OTHER_PRODUCT") = static_cast<int>(Connection::OpenStatus::OtherProduct);

    m.attr("MODE_OUTPUT") = static_cast<int>(OUTPUT_PIN);
    m.attr("MODE_INPUT") = static_cast<int>(INPUT_PIN);
    m.attr("MODE_PULLUP") = static_cast<int>(INPUT_PULLUP_PIN);
    m.attr("MODE_PULLDOWN") = static_cast<int>(INPUT_PULLDOWN_PIN);

    // Facts defined once in the core (the version in CMake), for the package:
    // the version, the models' product strings, the identity attribute ids,
    // and the answer wait bound with what a call that waited it out says.
    m.attr("__version__") = KORVANE_VERSION_STRING;
    m.attr("PRODUCT_VANTA") = kor_product::kVanta;
    m.attr("PRODUCT_BRONDEL") = kor_product::kBrondel;
    m.attr("PRODUCT_DMM") = kor_product::kDmm;
    m.attr("PRODUCTS") = py::tuple(py::cast(std::vector<std::string>(std::begin(kor_product::kAll),
                                                                     std::end(kor_product::kAll))));
    m.attr("ATT_VENDOR_NAME") = ATT_VENDOR_NAME;
    m.attr("ATT_PRODUCT_NAME") = ATT_PRODUCT_NAME;
    m.attr("ATT_PRODUCT_REVISION") = ATT_PRODUCT_REVISION;
    m.attr("ATT_PRODUCT_SERIAL") = ATT_PRODUCT_SERIAL;
    m.attr("ATT_FIRM_VERSION") = ATT_FIRM_VERSION;
    m.attr("ANSWER_TIMEOUT_MS") = static_cast<int>(kor_service::kAnswerTimeout.count());
    m.attr("NO_ANSWER_REASON") = kor_service::noAnswerReason();

    m.def("attached_devices", &attachedDevices, Released(), py::arg("product") = py::none(),
          py::arg("serial") = py::none(),
          "Every attached device of the family: (path, product, serial, manufacturer, release, interface); "
          "with product or serial, those whose texts match them.");

    py::class_<Gpio>(m, "Gpio", "A connection's GPIO block (pins 0-31).", plainType())
        .def("mode",
             [](Gpio &gpio, uint8_t pin, std::optional<int> mode) -> py::tuple {
                 if (!mode) {
                     const Outcome<PinMode> now = [&] {
                         py::gil_scoped_release released;
                         return gpio.mode(pin);
                     }();
                     return py::make_tuple(static_cast<int>(now.result.status), now.result.returnCode,
                                           static_cast<int>(now.valueOr(OUTPUT_PIN)));
                 }
                 // A number outside the enumeration must not be cast to it.
                 if (*mode < OUTPUT_PIN || *mode > INPUT_PULLDOWN_PIN) {
                     return py::cast(done(AttributeResult{AttributeStatus::BadArgument, 0}));
                 }
                 const AttributeResult set = [&] {
                     py::gil_scoped_release released;
                     return gpio.mode(pin, static_cast<PinMode>(*mode));
                 }();
                 return py::cast(done(set));
             },
             py::arg("pin"), py::arg("mode") = py::none())
        .def("read", [](Gpio &gpio, uint8_t pin) { return read(gpio.read(pin)); }, Released(),
             py::arg("pin"))
        .def("levels", [](Gpio &gpio) { return read(gpio.levels()); }, Released())
        .def("write", [](Gpio &gpio, uint8_t pin, bool high) { return done(gpio.write(pin, high)); },
             Released(), py::arg("pin"), py::arg("high"))
        .def("write_levels", [](Gpio &gpio, uint32_t mask) { return done(gpio.writeLevels(mask)); },
             Released(), py::arg("mask"));

    py::class_<AdcInputs>(m, "AdcInputs", "A connection's analogue channels (0-7).", plainType())
        .def("read", [](AdcInputs &adc, uint8_t channel) { return read(adc.read(channel)); }, Released(),
             py::arg("channel"));

    py::class_<I2c>(m, "I2c", "A connection's I2C bridge.", plainType())
        .def("set_target", [](I2c &i2c, uint8_t address) { return done(i2c.setTarget(address)); },
             Released(), py::arg("address"))
        .def("read", [](I2c &i2c, uint8_t reg, uint8_t width) { return read(i2c.read(reg, width)); },
             Released(), py::arg("reg"), py::arg("width"))
        .def("write",
             [](I2c &i2c, uint8_t reg, uint32_t value, uint8_t width) {
                 return done(i2c.write(reg, value, width));
             },
             Released(), py::arg("reg"), py::arg("value"), py::arg("width"))
        .def("probe", [](I2c &i2c, uint8_t address) { return read(i2c.probe(address)); }, Released(),
             py::arg("address"))
        .def("scan", [](I2c &i2c, uint8_t first, uint8_t last) { return read(i2c.scan(first, last)); },
             Released(), py::arg("first"), py::arg("last"));

    // Destruction waits for calls other threads make on the connection; it
    // can only run once no Python call holds the object, so it keeps the lock.
    py::class_<Connection>(m, "Connection", "One connection to one device.", plainType())
        .def("open", [](Connection &core, const std::string &path) { return static_cast<int>(core.open(path)); },
             Released(), py::arg("path"))
        .def("identity", &identity, py::arg("attid"))
        .def("close", [](Connection &core) { core.close(); }, Released())
        .def("is_open", &Connection::isOpen, Released());

    // Model connections wait on the device itself: no receive thread.
    py::class_<Board, Connection>(m, "Board", "The I/O board's connection.", plainType())
        .def(py::init([] { return new Board(KorService::Receive::Waiting); }))
        .def_property_readonly("gpio", blockOf(&Board::gpio))
        .def_property_readonly("adc", blockOf(&Board::adc))
        .def_property_readonly("i2c", blockOf(&Board::i2c));

    py::class_<Hub, Connection>(m, "Hub", "The hub's connection.", plainType())
        .def(py::init([] { return new Hub(KorService::Receive::Waiting); }))
        .def_property_readonly("gpio", blockOf(&Hub::gpio))
        .def("port_mask", [](Hub &hub) { return read(hub.portMask()); }, Released())
        .def("set_port_mask", [](Hub &hub, uint32_t mask) { return done(hub.setPortMask(mask)); }, Released(),
             py::arg("mask"))
        .def("port_on", [](Hub &hub, int port) { return done(hub.portOn(port)); }, Released(), py::arg("port"))
        .def("port_off", [](Hub &hub, int port) { return done(hub.portOff(port)); }, Released(), py::arg("port"))
        .def("is_port_on", [](Hub &hub, int port) { return read(hub.isPortOn(port)); }, Released(),
             py::arg("port"));

    py::class_<Meter, Connection>(m, "Meter", "The meter's connection.", plainType())
        .def(py::init([] { return new Meter(KorService::Receive::Waiting); }))
        .def_property_readonly("i2c", blockOf(&Meter::i2c))
        .def("voltage", [](Meter &meter) { return read(meter.voltage()); }, Released())
        .def("current", [](Meter &meter) { return read(meter.current()); }, Released())
        .def("calibration_offsets", &offsets, Released())
        .def("calibrate", [](Meter &meter) { return done(meter.calibrate()); }, Released())
        .def("registers", [](Meter &meter) { return read(meter.registers()); }, Released())
        .def("die_id", [](Meter &meter) { return read(meter.dieId()); }, Released());

    // The hotplug monitor (HotplugMonitor.h): made and stopped without the
    // interpreter lock (making it enumerates, stopping it waits for an
    // enumeration under way); its worker thread never calls into Python.
    py::class_<HotplugMonitor>(m, "HotplugMonitor",
                               "Supported devices arriving and leaving, as enumeration records.",
                               plainType())
        .def(py::init([](int periodMs) { return new HotplugMonitor(periodMs); }),
             py::call_guard<py::gil_scoped_release>(),
             py::arg("period_ms") = HotplugMonitor::kDefaultPeriodMs)
        .def("wait", &hotplugWait, py::arg("timeout_ms"),
             "Events [(kind, record)], waiting up to timeout_ms (negative: no bound) for the "
             "first; [] on timeout or when stopped.")
        .def("attached",
             [](const HotplugMonitor &monitor) {
                 std::vector<Record> records;
                 for (const AttachedDevice &d : monitor.attached()) {
                     records.emplace_back(d.path, d.product, d.serial, d.manufacturer, d.release,
                                          d.interfaceNumber);
                 }
                 return records;
             },
             Released())
        .def("stop", &HotplugMonitor::stop, Released())
        .def("running", &HotplugMonitor::running, Released())
        .def("wakes_on_udev", &HotplugMonitor::wakesOnUdev, Released());
}
