#include "IdentityBlock.h"

#include "Protocol.h"

namespace emu {

namespace {
Bytes zeroTerminated(const std::string &text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return b;
}
}  // namespace

IdentityBlock::IdentityBlock(const std::string &product, const std::string &serial)
    : AttributeBlock(0, 5),
      texts{zeroTerminated("Korvane"), zeroTerminated(product), zeroTerminated("A1"),
            zeroTerminated(serial), zeroTerminated("1.0.0")} {}

bool IdentityBlock::read(uint16_t attid, Bytes &out) {
    out = texts[offset(attid)];
    return true;
}

bool IdentityBlock::set(uint16_t attid, const Bytes &value) {
    texts[offset(attid)] = value;
    return true;
}

json::Value IdentityBlock::saveState() const {
    json::Value v = json::Value::array();
    for (const Bytes &text : texts) {
        bool plain = !text.empty() && text.back() == 0;
        for (size_t i = 0; plain && i + 1 < text.size(); ++i) {
            plain = text[i] >= 0x20 && text[i] < 0x7F;
        }
        if (plain) {
            v.push_back(std::string(text.begin(), text.end() - 1));
        } else {
            v.push_back(json::Value{{"hex", json::hexBytes(text)}});
        }
    }
    return v;
}

void IdentityBlock::loadState(const json::Value &state, const std::string &where) {
    const auto &values = json::array(state, where);
    if (values.size() != texts.size()) {
        throw json::Error(where + ": expected five texts");
    }
    std::array<Bytes, 5> loaded;
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string at = where + "[" + std::to_string(i) + "]";
        if (values[i].is_string()) {
            loaded[i] = zeroTerminated(json::text(values[i], at));
        } else {
            json::Fields f(values[i], at);
            const json::Value *hex = f.get("hex");
            if (!hex) {
                throw json::Error(at + ": expected a text or {\"hex\": \"<bytes>\"}");
            }
            loaded[i] = json::parseHexBytes(json::text(*hex, f.at("hex")), f.at("hex"));
            f.finish();
        }
        if (loaded[i].size() > kMaxAnswerValue) {
            throw json::Error(at + ": longer than " + std::to_string(kMaxAnswerValue) + " bytes");
        }
    }
    texts = loaded;
}

}  // namespace emu
