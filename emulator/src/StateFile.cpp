#include "StateFile.h"

#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Products.h"
#include "StateJson.h"
#include "WideUtf8.h"

#ifdef _WIN32
// The Windows C runtime's names for the same calls; its rename does not
// replace an existing file, MoveFileEx does.
#define O_CLOEXEC (O_NOINHERIT | O_BINARY)
static int fsync(int fd) { return _commit(fd); }
static int replaceFile(const char *from, const char *to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return 0;
    }
    errno = EACCES;
    return -1;
}
#else
static int replaceFile(const char *from, const char *to) { return ::rename(from, to); }
#endif

namespace emu {

namespace {

constexpr const char *kFormat = "korvane-emu-state";
constexpr int kVersion = 1;
// Far above any real state (a few kB per device); a larger file is not one.
constexpr long kMaxFileSize = 16L * 1024 * 1024;

json::Value optionalText(const std::optional<std::wstring> &text) {
    return text ? json::Value(korvane::wideToUtf8(*text)) : json::Value();
}

std::optional<std::wstring> optionalText(const json::Value &v, const std::string &where) {
    if (v.is_null()) {
        return std::nullopt;
    }
    return korvane::utf8ToWide(json::text(v, where));
}

json::Value deviceRecord(DeviceState &s) {
    json::Value record = {{"model", s.firmware->model()},
                          {"serial", optionalText(s.usb.serial)},
                          {"path", s.usb.path},
                          {"usb",
                           {{"vendor_id", s.usb.vendorId},
                            {"product_id", s.usb.productId},
                            {"product", optionalText(s.usb.product)},
                            {"manufacturer", optionalText(s.usb.manufacturer)},
                            {"interfaces", s.usb.interfaces}}}};
    s.firmware->saveState(record);
    return record;
}

std::shared_ptr<EmuDevice> deviceFromRecord(const json::Value &record, const std::string &where,
                                            size_t index) {
    json::Fields f(record, where);
    const json::Value *modelValue = f.get("model");
    if (!modelValue) {
        throw json::Error(f.at("model") + ": missing");
    }
    const std::string &model = json::text(*modelValue, f.at("model"));
    std::optional<std::string> path, serial;
    if (const json::Value *v = f.get("path")) {
        path = json::text(*v, f.at("path"));
    }
    if (const json::Value *v = f.get("serial"); v && !v->is_null()) {
        serial = json::text(*v, f.at("serial"));
    }
    auto device = EmuDevice::create(model, serial, path, index);
    if (!device) {
        throw json::Error(f.at("model") + ": unknown model \"" + model + "\" (" +
                          korvane::kor_product::kVanta + ", " + korvane::kor_product::kBrondel +
                          " or " + korvane::kor_product::kDmm + ")");
    }
    device->with([&](DeviceState &s) {
        if (const json::Value *v = f.get("usb")) {
            UsbIdentity &usb = s.usb;
            json::Fields u(*v, f.at("usb"));
            u.integer("vendor_id", usb.vendorId);
            u.integer("product_id", usb.productId);
            if (const json::Value *text = u.get("product")) {
                usb.product = optionalText(*text, u.at("product"));
            }
            if (const json::Value *text = u.get("manufacturer")) {
                usb.manufacturer = optionalText(*text, u.at("manufacturer"));
            }
            u.integer("interfaces", usb.interfaces);
            if (usb.interfaces < 1 || usb.interfaces > kMaxInterfaces) {
                throw json::Error(u.at("interfaces") + ": expected an integer from 1 to " +
                                  std::to_string(kMaxInterfaces));
            }
            u.finish();
        }
        s.firmware->loadState(f);
    });
    f.finish();
    return device;
}

std::string stateText(const DeviceList &devices) {
    json::Value list = json::Value::array();
    for (const auto &device : devices) {
        list.push_back(device->with([](DeviceState &s) { return deviceRecord(s); }));
    }
    return json::write({{"format", kFormat}, {"version", kVersion}, {"devices", std::move(list)}});
}

DeviceList devicesFromState(const std::string &text) {
    const json::Value doc = json::parse(text);
    json::Fields f(doc, "");
    if (const json::Value *format = f.get("format")) {
        if (json::text(*format, "format") != kFormat) {
            throw json::Error("format: not \"" + std::string(kFormat) + "\"");
        }
    }
    if (const json::Value *version = f.get("version")) {
        if (json::integer(*version, "version", 0, INT32_MAX) != kVersion) {
            throw json::Error("version: this library reads version " + std::to_string(kVersion));
        }
    }
    DeviceList devices;
    if (const json::Value *list = f.get("devices")) {
        const auto &records = json::array(*list, "devices");
        for (size_t i = 0; i < records.size(); ++i) {
            devices.push_back(
                deviceFromRecord(records[i], "devices[" + std::to_string(i) + "]", i));
        }
    } else {
        throw json::Error("devices: missing");
    }
    f.finish();
    return devices;
}

bool readStateFile(const std::string &path, std::string &text, bool &missing, std::string &error) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        missing = errno == ENOENT;
        error = std::strerror(errno);
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> closer(file, std::fclose);
    text.clear();
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) {
        text.append(buf, n);
        if (long(text.size()) > kMaxFileSize) {
            error = "larger than 16 MiB";
            return false;
        }
    }
    if (std::ferror(file)) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

// Saves from several threads (emu_save_state, the save at exit) take turns:
// each writes the process's temporary and renames it over the file, and on
// Windows a file cannot be replaced while another replace of it is under way.
std::mutex savingMutex;

bool writeStateFile(const std::string &path, const std::string &text, std::string &error) {
    std::lock_guard<std::mutex> saving(savingMutex);
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::string("cannot create ") + temporary + ": " + std::strerror(errno);
        return false;
    }
    size_t written = 0;
    bool ok = true;
    while (ok && written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            written += size_t(n);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok) {
        error = std::string("cannot write ") + temporary + ": " + std::strerror(errno);
    }
    if (::close(fd) != 0 && ok) {
        error = std::string("cannot write ") + temporary + ": " + std::strerror(errno);
        ok = false;
    }
    if (ok && replaceFile(temporary.c_str(), path.c_str()) != 0) {
        error =
            std::string("cannot rename ") + temporary + " to " + path + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

}  // namespace

DeviceList loadStateFile(const std::string &path, bool &missing) {
    std::string text, error;
    missing = false;
    if (!readStateFile(path, text, missing, error)) {
        throw StateFileError(path, error, true);
    }
    try {
        return devicesFromState(text);
    } catch (const std::exception &e) {
        throw StateFileError(path, e.what(), false);
    }
}

bool saveStateFile(const std::string &path, const DeviceList &devices, std::string &error) {
    try {
        return writeStateFile(path, stateText(devices), error);
    } catch (const std::exception &e) {
        error = e.what();
        return false;
    }
}

}  // namespace emu
