// The state file's JSON: nlohmann's ordered document (keys keep their
// order), read with messages that say where a fault is and written in the
// file's own layout. The readers below check a value's type and range and
// throw Error naming its place ("devices[0].adc[2]").
#ifndef KORVANE_EMU_STATE_JSON_H
#define KORVANE_EMU_STATE_JSON_H

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace emu::json {

using Value = nlohmann::ordered_json;

// A text that is not JSON, or a document that does not have the expected
// shape; the message says where.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses a whole document. A fault of the text is given by line and column
// ("line 2, column 1: unexpected end of the text"), a member given twice or
// nesting deeper than 64 levels by its place.
Value parse(const std::string &text);
// The document as text: objects one member a line, indented by two spaces
// per level, arrays of numbers and texts on one line, integral numbers
// without a fraction; ends in a newline.
std::string write(const Value &v);

// A single-precision number, kept so that it is written with the fewest
// digits that read back as the same float.
Value single(float f);

// Readers; each throws Error naming `where` when the value does not fit.
double number(const Value &v, const std::string &where);
// The float nearest to the number as written, so that what single() wrote
// reads back as the very same float.
float singleOf(const Value &v, const std::string &where);
// An integral number within [min, max].
int64_t integer(const Value &v, const std::string &where, int64_t min, int64_t max);
const std::string &text(const Value &v, const std::string &where);
const Value::array_t &array(const Value &v, const std::string &where);
const Value::object_t &object(const Value &v, const std::string &where);

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
        if (const Value *v = get(key)) {
            out = T(json::integer(*v, at(key), int64_t(std::numeric_limits<T>::min()),
                                  int64_t(std::numeric_limits<T>::max())));
        }
    }
    void finish() const;

private:
    const Value::object_t &members;
    std::string location;
    std::vector<bool> used;
};

}  // namespace emu::json

#endif
