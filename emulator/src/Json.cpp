#include "Json.h"

#include "Utf8.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace emu::json {

Value Value::boolean(bool b) {
    Value v;
    v.type_ = Type::Bool;
    v.bool_ = b;
    return v;
}

Value Value::number(double d) {
    Value v;
    v.type_ = Type::Number;
    v.number_ = d;
    return v;
}

Value Value::single(float f) {
    Value v = number(f);
    v.single_ = true;
    return v;
}

Value Value::string(std::string s) {
    Value v;
    v.type_ = Type::String;
    v.string_ = std::move(s);
    return v;
}

Value Value::array() {
    Value v;
    v.type_ = Type::Array;
    return v;
}

Value Value::object() {
    Value v;
    v.type_ = Type::Object;
    return v;
}

Value &Value::push(Value v) {
    array_.push_back(std::move(v));
    return array_.back();
}

Value &Value::set(std::string key, Value v) {
    members_.emplace_back(std::move(key), std::move(v));
    return members_.back().second;
}

namespace {
[[noreturn]] void expected(const std::string &where, const char *what) {
    throw Error(where + ": expected " + what);
}
}  // namespace

double Value::asNumber(const std::string &where) const {
    if (type_ != Type::Number)
        expected(where, "a number");
    return number_;
}

int64_t Value::asInteger(const std::string &where, int64_t min, int64_t max) const {
    const std::string range =
        "an integer from " + std::to_string(min) + " to " + std::to_string(max);
    if (type_ != Type::Number || number_ != std::floor(number_) || number_ < double(min) ||
        number_ > double(max))
        expected(where, range.c_str());
    return int64_t(number_);
}

float Value::asFloat(const std::string &where) const {
    const double d = asNumber(where);
    float f = float(d);
    if (!numberText_.empty()) {
        const char *end = numberText_.data() + numberText_.size();
        if (std::from_chars(numberText_.data(), end, f).ptr != end || !std::isfinite(f))
            expected(where, "a number within the range of a float");
    }
    return f;
}

const std::string &Value::asString(const std::string &where) const {
    if (type_ != Type::String)
        expected(where, "a string");
    return string_;
}

const std::vector<Value> &Value::asArray(const std::string &where) const {
    if (type_ != Type::Array)
        expected(where, "an array");
    return array_;
}

const Value::Members &Value::asObject(const std::string &where) const {
    if (type_ != Type::Object)
        expected(where, "an object");
    return members_;
}

// ---- writing

namespace {

void writeString(std::string &out, const std::string &s) {
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += char(c);  // UTF-8 passes through
                }
        }
    }
    out += '"';
}

void writeNumber(std::string &out, double d, bool single) {
    char buf[64];
    std::to_chars_result r{};
    if (!std::isfinite(d)) {
        out += "null";  // JSON has no infinities; callers keep those apart
        return;
    }
    if (d == std::floor(d) && std::fabs(d) < 9007199254740992.0)
        r = std::to_chars(buf, buf + sizeof buf, int64_t(d));
    else if (single)
        r = std::to_chars(buf, buf + sizeof buf, float(d));
    else
        r = std::to_chars(buf, buf + sizeof buf, d);
    out.append(buf, r.ptr);
}

void newline(std::string &out, int indent) {
    out += '\n';
    out.append(size_t(indent) * 2, ' ');
}

}  // namespace

void writeValue(std::string &out, const Value &v, int indent) {
    switch (v.type_) {
        case Value::Type::Null: out += "null"; break;
        case Value::Type::Bool: out += v.bool_ ? "true" : "false"; break;
        case Value::Type::Number: writeNumber(out, v.number_, v.single_); break;
        case Value::Type::String: writeString(out, v.string_); break;
        case Value::Type::Array: {
            // Arrays of numbers stay on one line (ADC channels, offsets).
            bool flat = true;
            for (const Value &item : v.array_)
                flat =
                    flat && item.type_ != Value::Type::Array && item.type_ != Value::Type::Object;
            out += '[';
            for (size_t i = 0; i < v.array_.size(); ++i) {
                if (i)
                    out += flat ? ", " : ",";
                if (!flat)
                    newline(out, indent + 1);
                writeValue(out, v.array_[i], indent + 1);
            }
            if (!flat && !v.array_.empty())
                newline(out, indent);
            out += ']';
            break;
        }
        case Value::Type::Object:
            out += '{';
            for (size_t i = 0; i < v.members_.size(); ++i) {
                if (i)
                    out += ',';
                newline(out, indent + 1);
                writeString(out, v.members_[i].first);
                out += ": ";
                writeValue(out, v.members_[i].second, indent + 1);
            }
            if (!v.members_.empty())
                newline(out, indent);
            out += '}';
            break;
    }
}

std::string write(const Value &v) {
    std::string out;
    writeValue(out, v, 0);
    out += '\n';
    return out;
}

// ---- reading

class Parser {
public:
    explicit Parser(const std::string &text) : text_(text) {}

    Value document() {
        Value v = value(0);
        skipSpace();
        if (pos_ != text_.size())
            fail("unexpected text after the document");
        return v;
    }

private:
    static constexpr int kMaxDepth = 64;

    [[noreturn]] void fail(const std::string &what) const {
        size_t line = 1, column = 1;
        for (size_t i = 0; i < pos_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        throw Error("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                    what);
    }

    void skipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r'))
            ++pos_;
    }

    bool consume(char c) {
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    void expect(char c) {
        if (!consume(c))
            fail(std::string("expected '") + c + "'");
    }

    bool literal(const char *word) {
        const std::string w(word);
        if (text_.compare(pos_, w.size(), w) != 0)
            return false;
        pos_ += w.size();
        return true;
    }

    Value value(int depth) {
        if (depth > kMaxDepth)
            fail("nested too deeply");
        skipSpace();
        if (pos_ >= text_.size())
            fail("unexpected end of the text");
        const char c = text_[pos_];
        if (c == '{')
            return object(depth);
        if (c == '[')
            return array(depth);
        if (c == '"')
            return Value::string(string());
        if (literal("true"))
            return Value::boolean(true);
        if (literal("false"))
            return Value::boolean(false);
        if (literal("null"))
            return Value();
        if (c == '-' || (c >= '0' && c <= '9'))
            return number();
        fail(std::string("unexpected character '") + c + "'");
    }

    Value object(int depth) {
        ++pos_;
        Value v = Value::object();
        if (consume('}'))
            return v;
        do {
            skipSpace();
            if (pos_ >= text_.size() || text_[pos_] != '"')
                fail("expected a member name in quotes");
            std::string key = string();
            for (const auto &member : v.asObject(""))
                if (member.first == key)
                    fail("member \"" + key + "\" given twice");
            expect(':');
            v.set(std::move(key), value(depth + 1));
        } while (consume(','));
        expect('}');
        return v;
    }

    Value array(int depth) {
        ++pos_;
        Value v = Value::array();
        if (consume(']'))
            return v;
        do
            v.push(value(depth + 1));
        while (consume(','));
        expect(']');
        return v;
    }

    Value number() {
        const size_t start = pos_;
        auto digits = [&] {
            const size_t from = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9')
                ++pos_;
            return pos_ > from;
        };
        if (text_[pos_] == '-')
            ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '0')
            ++pos_;
        else if (!digits())
            fail("malformed number");
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            if (!digits())
                fail("malformed number");
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-'))
                ++pos_;
            if (!digits())
                fail("malformed number");
        }
        double d = 0;
        const auto r = std::from_chars(text_.data() + start, text_.data() + pos_, d);
        if (r.ec != std::errc() || !std::isfinite(d))
            fail("number out of range");
        Value v = Value::number(d);
        v.numberText_ = text_.substr(start, pos_ - start);
        return v;
    }

    unsigned hex4() {
        if (pos_ + 4 > text_.size())
            fail("truncated \\u escape");
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= unsigned(c - 'A' + 10);
            else
                fail("malformed \\u escape");
        }
        return code;
    }

    std::string string() {
        ++pos_;  // the opening quote
        std::string out;
        while (true) {
            if (pos_ >= text_.size())
                fail("unterminated string");
            const unsigned char c = static_cast<unsigned char>(text_[pos_++]);
            if (c == '"')
                return out;
            if (c < 0x20)
                fail("control character in a string");
            if (c != '\\') {
                out += char(c);
                continue;
            }
            if (pos_ >= text_.size())
                fail("unterminated string");
            switch (text_[pos_++]) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned code = hex4();
                    if (code >= 0xD800 && code < 0xDC00) {
                        if (!literal("\\u"))
                            fail("unpaired surrogate");
                        const unsigned low = hex4();
                        if (low < 0xDC00 || low >= 0xE000)
                            fail("unpaired surrogate");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xDC00 && code < 0xE000) {
                        fail("unpaired surrogate");
                    }
                    emu::appendUtf8(out, code);
                    break;
                }
                default: --pos_; fail("unknown escape");
            }
        }
    }

    const std::string &text_;
    size_t pos_ = 0;
};

Value parse(const std::string &text) { return Parser(text).document(); }

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
        std::from_chars(key.data() + 2, end, value, 16).ptr != end || value > max)
        throw Error(where + ": \"" + key + "\" is not a number from 0x0 to " + hexKey(max, 1));
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
    if (text.size() % 2)
        throw Error(where + ": expected pairs of hex digits");
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned b = 0;
        const char *end = text.data() + i + 2;
        if (std::from_chars(text.data() + i, end, b, 16).ptr != end)
            throw Error(where + ": expected pairs of hex digits");
        out.push_back(uint8_t(b));
    }
    return out;
}

// ---- fields of an object

Fields::Fields(const Value &object, std::string where)
    : members_(object.asObject(where)), where_(std::move(where)), used_(members_.size(), false) {}

const Value *Fields::get(const std::string &key) {
    for (size_t i = 0; i < members_.size(); ++i)
        if (members_[i].first == key) {
            used_[i] = true;
            return &members_[i].second;
        }
    return nullptr;
}

std::string Fields::at(const std::string &key) const {
    return where_.empty() ? key : where_ + "." + key;
}

void Fields::finish() const {
    for (size_t i = 0; i < members_.size(); ++i)
        if (!used_[i])
            throw Error(at(members_[i].first) + ": unknown member");
}

}  // namespace emu::json
