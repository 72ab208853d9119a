// A small JSON document model with a writer and a strict reader, enough for
// the state file: objects keep their keys in order, numbers are doubles
// (every 32-bit integer is exact), strings are UTF-8.
#ifndef KORVANE_EMU_JSON_H
#define KORVANE_EMU_JSON_H

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace emu::json {

// A text that is not JSON, or a document that does not have the expected
// shape; the message says where.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Value {
public:
    enum class Type {
        Null,
        Bool,
        Number,
        String,
        Array,
        Object
    };
    using Members = std::vector<std::pair<std::string, Value>>;

    Value() = default;
    static Value boolean(bool b);
    static Value number(double d);
    // A single-precision number, written with the fewest digits that read
    // back as the same float.
    static Value single(float f);
    static Value string(std::string s);
    static Value array();
    static Value object();

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }

    // Building: append to an array, add a member to an object.
    Value &push(Value v);
    Value &set(std::string key, Value v);

    // Reading; each throws Error naming `where` when the type differs.
    double asNumber(const std::string &where) const;
    // A number read as a single-precision float straight from its text, so
    // that what single() wrote reads back as the very same float.
    float asFloat(const std::string &where) const;
    // An integral number within [min, max].
    int64_t asInteger(const std::string &where, int64_t min, int64_t max) const;
    const std::string &asString(const std::string &where) const;
    const std::vector<Value> &asArray(const std::string &where) const;
    const Members &asObject(const std::string &where) const;

private:
    Type type_ = Type::Null;
    bool bool_ = false;
    bool single_ = false;
    double number_ = 0.0;
    std::string numberText_;  // a parsed number as written
    std::string string_;
    std::vector<Value> array_;
    Members members_;

    friend void writeValue(std::string &out, const Value &v, int indent);
    friend class Parser;
};

// The document as text, indented by two spaces per level, ending in a newline.
std::string write(const Value &v);
// Parses a whole document; throws Error with the line and column of the
// first fault. Nesting deeper than 64 levels is refused.
Value parse(const std::string &text);

// Keys of hexadecimal numbers ("0x40", "0x1300") and byte strings as hex
// digits ("4b6f00"); the readers throw Error naming where.
std::string hexKey(unsigned value, int digits);
unsigned parseHexKey(const std::string &key, const std::string &where, unsigned max);
std::string hexBytes(const std::vector<uint8_t> &bytes);
std::vector<uint8_t> parseHexBytes(const std::string &text, const std::string &where);

// The members of an object, each looked up at most once; finish() refuses
// members nobody asked for, so a misspelt key is reported, not ignored.
class Fields {
public:
    Fields(const Value &object, std::string where);
    // Null when absent.
    const Value *get(const std::string &key);
    // The path of a member, for messages: "<where>.<key>".
    std::string at(const std::string &key) const;
    // Stores the member in out when present; throws when it is not an
    // integer in T's range.
    template <class T>
    void integer(const std::string &key, T &out) {
        if (const Value *v = get(key))
            out = T(v->asInteger(at(key), int64_t(std::numeric_limits<T>::min()),
                                 int64_t(std::numeric_limits<T>::max())));
    }
    void finish() const;

private:
    const Value::Members &members_;
    std::string where_;
    std::vector<bool> used_;
};

}  // namespace emu::json

#endif
