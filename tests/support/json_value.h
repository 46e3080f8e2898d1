#pragma once
// A minimal JSON reader for test data (docs/protocol-vectors.json). Strings
// come back as UTF-16 units with \uXXXX escapes taken unit for unit, so an
// escaped unpaired surrogate survives. Numbers are unsigned integers only.
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/os_string.h"

namespace zub::test_support {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    std::uint64_t number = 0;
    std::u16string string;
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;

    // Throws when the key is missing, so a malformed vector fails loudly.
    const JsonValue& operator[](const std::string& key) const {
        const auto found = object.find(key);
        if (found == object.end()) throw std::runtime_error("missing key " + key);
        return found->second;
    }
    bool has(const std::string& key) const { return object.count(key) != 0; }
    std::vector<std::u16string> strings() const {
        std::vector<std::u16string> out;
        for (const JsonValue& item : array) out.push_back(item.string);
        return out;
    }
};

class JsonReader {
public:
    explicit JsonReader(std::string text) : text_(std::move(text)) {}

    JsonValue parse() {
        JsonValue value = read_value();
        skip_space();
        if (at_ != text_.size()) fail("trailing text");
        return value;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at byte " + std::to_string(at_));
    }
    void skip_space() {
        while (at_ < text_.size() && std::string(" \t\r\n").find(text_[at_]) != std::string::npos) ++at_;
    }
    bool take(const std::string& word) {
        if (text_.compare(at_, word.size(), word) != 0) return false;
        at_ += word.size();
        return true;
    }
    char next() {
        if (at_ == text_.size()) fail("unexpected end");
        return text_[at_++];
    }

    JsonValue read_value() {
        skip_space();
        JsonValue value;
        if (take("null")) return value;
        if (take("true") || take("false")) {
            value.kind = JsonValue::Kind::Bool;
            value.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';  // "true", not "false"
            return value;
        }
        const char c = next();
        if (c == '"') {
            value.kind = JsonValue::Kind::String;
            value.string = read_string();
        } else if (c == '[') {
            value.kind = JsonValue::Kind::Array;
            skip_space();
            if (take("]")) return value;
            for (;;) {
                value.array.push_back(read_value());
                skip_space();
                if (take("]")) break;
                if (!take(",")) fail("expected , or ]");
            }
        } else if (c == '{') {
            value.kind = JsonValue::Kind::Object;
            skip_space();
            if (take("}")) return value;
            for (;;) {
                skip_space();
                if (next() != '"') fail("expected a key");
                const std::string key = to_utf8_lossy(read_string());
                skip_space();
                if (next() != ':') fail("expected :");
                value.object[key] = read_value();
                skip_space();
                if (take("}")) break;
                if (!take(",")) fail("expected , or }");
            }
        } else if (c >= '0' && c <= '9') {
            value.kind = JsonValue::Kind::Number;
            value.number = static_cast<std::uint64_t>(c - '0');
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
                value.number = value.number * 10 + static_cast<std::uint64_t>(text_[at_++] - '0');
        } else {
            fail("unexpected character");
        }
        return value;
    }

    // After the opening quote. Raw UTF-8 runs are converted whole; escapes unit by unit.
    std::u16string read_string() {
        std::u16string out;
        std::string raw;
        for (char c = next(); c != '"'; c = next()) {
            if (c != '\\') {
                raw.push_back(c);
                continue;
            }
            out += to_utf16(raw);
            raw.clear();
            const char e = next();
            const std::string simple = "\"\\/bfnrt";
            const std::u16string meaning = u"\"\\/\b\f\n\r\t";
            if (const auto i = simple.find(e); i != std::string::npos) {
                out.push_back(meaning[i]);
            } else if (e == 'u') {
                if (at_ + 4 > text_.size()) fail("short \\u escape");
                out.push_back(static_cast<char16_t>(std::stoul(text_.substr(at_, 4), nullptr, 16)));
                at_ += 4;
            } else {
                fail("unknown escape");
            }
        }
        return out + to_utf16(raw);
    }

    std::string text_;
    std::size_t at_ = 0;
};

// The protocol vectors, read from the path the build gives the tests.
inline JsonValue read_protocol_vectors() {
    std::ifstream file(ZUB_PROTOCOL_VECTORS, std::ios::binary);
    if (!file) throw std::runtime_error(std::string("cannot read ") + ZUB_PROTOCOL_VECTORS);
    std::ostringstream text;
    text << file.rdbuf();
    return JsonReader(text.str()).parse();
}

}  // namespace zub::test_support
