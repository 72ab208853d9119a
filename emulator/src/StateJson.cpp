#include "StateJson.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

namespace emu::json {

// ---- reading a document

namespace {

constexpr size_t kMaxDepth = 64;

// "line L, column C: " of the byte at `at` (columns count bytes from 1).
std::string located(const std::string &text, size_t at) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < at && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
}

std::string shown(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
        return std::string("character '") + c + "'";
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "byte 0x%02x", byte);
    return hex;
}

// The fault in words from nlohmann's message, without its prefix and the
// token it quotes ("[json.exception.parse_error.101] parse error at line 1,
// column 3: syntax error while parsing object - unexpected ']'; expected
// string literal" gives "unexpected ']'; expected string literal").
std::string describe(const Value::exception &e, const std::string &lastToken, char at) {
    std::string what = e.what();
    if (const size_t dash = what.find(" - "); dash != std::string::npos) {
        what.erase(0, dash + 3);
    } else if (const size_t name = what.find("] "); name != std::string::npos) {
        what.erase(0, name + 2);
    }
    const std::string lastRead = "; last read: '" + lastToken + "'";
    if (const size_t quoted = what.find(lastRead); quoted != std::string::npos) {
        what.erase(quoted, lastRead.size());
    }
    if (what.rfind("invalid literal", 0) == 0) {
        return "unexpected " + shown(at);
    }
    if (what.find("surrogate") != std::string::npos) {
        return "unpaired surrogate";
    }
    return what;
}

// Builds the document from nlohmann's SAX events: unlike its own builder it
// refuses a member given twice (nlohmann keeps the last) and deep nesting,
// and it says where a fault of the text is.
class Builder {
public:
    explicit Builder(const std::string &text) : source(text) {}

    bool null() { return add(Value()); }
    bool boolean(bool b) { return add(Value(b)); }
    bool number_integer(Value::number_integer_t n) { return add(Value(n)); }
    bool number_unsigned(Value::number_unsigned_t n) { return add(Value(n)); }
    bool number_float(Value::number_float_t d, const std::string &) { return add(Value(d)); }
    bool string(std::string &s) { return add(Value(std::move(s))); }
    bool binary(Value::binary_t &) { return false; }  // not in a JSON text
    bool start_object(std::size_t) { return open(Value::object()); }
    bool start_array(std::size_t) { return open(Value::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(std::string &name) {
        Frame &frame = frames.back();
        if (!frame.keys.insert(name).second) {
            return fail(frame.where, "member \"" + name + "\" given twice");
        }
        pendingKey = std::move(name);
        return true;
    }

    bool parse_error(std::size_t position, const std::string &lastToken,
                     const Value::exception &e) {
        // position counts the bytes read, the faulty one (or the end) last.
        const size_t at = std::min(position > 0 ? position - 1 : 0, source.size());
        std::string what;
        if (complete) {
            what = "unexpected text after the document";
        } else if (at == source.size()) {
            what = "unexpected end of the text";
        } else if (source[at] == '\0') {  // nlohmann's end of the input
            what = "unexpected " + shown(source[at]);
        } else {
            what = describe(e, lastToken, source[at]);
        }
        message = located(source, at) + what;
        return false;
    }

    const std::string &error() const { return message; }
    Value take() { return std::move(root); }

private:
    struct Frame {
        Value *value;
        std::string where;
        std::set<std::string> keys;
    };

    // The place of the value that comes next, for messages.
    std::string nextWhere() const {
        if (frames.empty()) {
            return "";
        }
        const Frame &frame = frames.back();
        if (frame.value->is_object()) {
            return frame.where.empty() ? pendingKey : frame.where + "." + pendingKey;
        }
        return frame.where + "[" + std::to_string(frame.value->size()) + "]";
    }

    Value *place(Value v) {
        if (frames.empty()) {
            root = std::move(v);
            return &root;
        }
        Value &parent = *frames.back().value;
        if (parent.is_object()) {
            // Keys are unique already (key()): no lookup needed.
            auto &members = parent.get_ref<Value::object_t &>();
            members.emplace_back(pendingKey, std::move(v));
            return &members.back().second;
        }
        auto &items = parent.get_ref<Value::array_t &>();
        items.push_back(std::move(v));
        return &items.back();
    }

    bool add(Value v) {
        complete = frames.empty();
        place(std::move(v));
        return true;
    }

    bool open(Value container) {
        std::string where = nextWhere();
        if (frames.size() > kMaxDepth) {
            return fail(where, "nested too deeply");
        }
        frames.push_back(Frame{place(std::move(container)), std::move(where), {}});
        return true;
    }

    bool close() {
        frames.pop_back();
        complete = frames.empty();
        return true;
    }

    bool fail(const std::string &where, const std::string &what) {
        message = where.empty() ? what : where + ": " + what;
        return false;
    }

    const std::string &source;
    Value root;
    std::vector<Frame> frames;
    std::string pendingKey;
    bool complete = false;
    std::string message;
};

}  // namespace

Value parse(const std::string &text) {
    Builder builder(text);
    if (!Value::sax_parse(text, &builder)) {
        throw Error(builder.error().empty() ? "not a JSON text" : builder.error());
    }
    // nlohmann ends the text at a zero byte; what follows it is not JSON.
    if (const size_t zero = text.find('\0'); zero != std::string::npos) {
        throw Error(located(text, zero) + "unexpected text after the document");
    }
    return builder.take();
}

// ---- writing a document

namespace {

void newline(std::string &out, int indent) {
    out += '\n';
    out.append(size_t(indent) * 2, ' ');
}

// nlohmann's text of a scalar: texts escaped (bytes that are not UTF-8
// become U+FFFD), integers, true, false, null.
void writeScalar(std::string &out, const Value &v) {
    out += v.dump(-1, ' ', false, Value::error_handler_t::replace);
}

// Integral values without a fraction ("5", not nlohmann's "5.0"), others
// with the fewest digits that read back as the same double.
void writeFloat(std::string &out, double d) {
    char buf[64];
    std::to_chars_result r{};
    if (!std::isfinite(d)) {
        out += "null";  // JSON has no infinities; callers keep those apart
        return;
    }
    if (d == std::floor(d) && std::fabs(d) < 9007199254740992.0) {
        r = std::to_chars(buf, buf + sizeof buf, int64_t(d));
    } else {
        r = std::to_chars(buf, buf + sizeof buf, d);
    }
    out.append(buf, r.ptr);
}

void writeValue(std::string &out, const Value &v, int indent) {
    if (v.is_object()) {
        const auto &members = v.get_ref<const Value::object_t &>();
        out += '{';
        bool first = true;
        for (const auto &[key, member] : members) {
            if (!first) {
                out += ',';
            }
            first = false;
            newline(out, indent + 1);
            writeScalar(out, Value(key));
            out += ": ";
            writeValue(out, member, indent + 1);
        }
        if (!members.empty()) {
            newline(out, indent);
        }
        out += '}';
    } else if (v.is_array()) {
        // Arrays of plain values stay on one line (ADC channels, offsets).
        const auto &items = v.get_ref<const Value::array_t &>();
        bool flat = true;
        for (const Value &item : items) {
            flat = flat && !item.is_structured();
        }
        out += '[';
        for (size_t i = 0; i < items.size(); ++i) {
            if (i) {
                out += flat ? ", " : ",";
            }
            if (!flat) {
                newline(out, indent + 1);
            }
            writeValue(out, items[i], indent + 1);
        }
        if (!flat && !items.empty()) {
            newline(out, indent);
        }
        out += ']';
    } else if (v.is_number_float()) {
        writeFloat(out, v.get<double>());
    } else {
        writeScalar(out, v);
    }
}

}  // namespace

std::string write(const Value &v) {
    std::string out;
    writeValue(out, v, 0);
    out += '\n';
    return out;
}

Value single(float f) {
    // The float's shortest text read as a double: written again, that
    // double gives the same text.
    char buf[64];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, f);
    double d = f;
    std::from_chars(buf, r.ptr, d);
    return Value(d);
}

// ---- reading values

namespace {
[[noreturn]] void expected(const std::string &where, const std::string &what) {
    throw Error(where + ": expected " + what);
}
}  // namespace

double number(const Value &v, const std::string &where) {
    if (!v.is_number()) {
        expected(where, "a number");
    }
    return v.get<double>();
}

float singleOf(const Value &v, const std::string &where) {
    // The double's shortest text is the number as written (for up to 15
    // significant digits), read again as a float: rounding the double to a
    // float could differ from rounding the text once.
    const double d = number(v, where);
    char buf[64];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, d);
    float f = 0;
    const std::from_chars_result read = std::from_chars(buf, r.ptr, f);
    if (read.ec != std::errc() || !std::isfinite(f)) {
        expected(where, "a number within the range of a float");
    }
    return f;
}

int64_t integer(const Value &v, const std::string &where, int64_t min, int64_t max) {
    const auto outOfRange = [&] {
        expected(where, "an integer from " + std::to_string(min) + " to " + std::to_string(max));
    };
    if (v.is_number_unsigned()) {
        const uint64_t u = v.get<uint64_t>();
        if (max < 0 || u > uint64_t(max) || (min > 0 && u < uint64_t(min))) {
            outOfRange();
        }
        return int64_t(u);
    }
    if (v.is_number_integer()) {
        const int64_t i = v.get<int64_t>();
        if (i < min || i > max) {
            outOfRange();
        }
        return i;
    }
    if (v.is_number_float()) {
        // 5.0 is the integer 5.
        const double d = v.get<double>();
        if (d != std::floor(d) || std::fabs(d) >= 9007199254740992.0 || d < double(min) ||
            d > double(max)) {
            outOfRange();
        }
        return int64_t(d);
    }
    outOfRange();
    return 0;
}

const std::string &text(const Value &v, const std::string &where) {
    if (!v.is_string()) {
        expected(where, "a string");
    }
    return v.get_ref<const std::string &>();
}

const Value::array_t &array(const Value &v, const std::string &where) {
    if (!v.is_array()) {
        expected(where, "an array");
    }
    return v.get_ref<const Value::array_t &>();
}

const Value::object_t &object(const Value &v, const std::string &where) {
    if (!v.is_object()) {
        expected(where, "an object");
    }
    return v.get_ref<const Value::object_t &>();
}

// ---- hexadecimal keys and byte strings

std::string hexKey(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x", digits, value);
    return buf;
}

unsigned parseHexKey(const std::string &key, const std::string &where, unsigned max) {
    unsigned value = 0;
    const char *end = key.data() + key.size();
    if (key.size() < 3 || key.size() > 10 || key[0] != '0' || (key[1] != 'x' && key[1] != 'X') ||
        std::from_chars(key.data() + 2, end, value, 16).ptr != end || value > max) {
        throw Error(where + ": \"" + key + "\" is not a number from 0x0 to " + hexKey(max, 1));
    }
    return value;
}

std::string hexBytes(const std::vector<uint8_t> &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

std::vector<uint8_t> parseHexBytes(const std::string &text, const std::string &where) {
    std::vector<uint8_t> out;
    if (text.size() % 2) {
        throw Error(where + ": expected pairs of hex digits");
    }
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned b = 0;
        const char *end = text.data() + i + 2;
        if (std::from_chars(text.data() + i, end, b, 16).ptr != end) {
            throw Error(where + ": expected pairs of hex digits");
        }
        out.push_back(uint8_t(b));
    }
    return out;
}

// ---- fields of an object

Fields::Fields(const Value &v, std::string where)
    : members(object(v, where)), location(std::move(where)), used(members.size(), false) {}

// (The members are a vector of pairs whose operator[] takes a key.)
const Value *Fields::get(const std::string &key) {
    size_t i = 0;
    for (const auto &[name, value] : members) {
        if (name == key) {
            used[i] = true;
            return &value;
        }
        ++i;
    }
    return nullptr;
}

std::string Fields::at(const std::string &key) const {
    return location.empty() ? key : location + "." + key;
}

void Fields::finish() const {
    size_t i = 0;
    for (const auto &member : members) {
        if (!used[i++]) {
            throw Error(at(member.first) + ": unknown member");
        }
    }
}

}  // namespace emu::json
