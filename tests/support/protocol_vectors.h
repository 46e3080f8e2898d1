#pragma once
// The protocol vectors (docs/protocol-vectors.json) for the tests. The file's
// place comes from the environment (ZUB_PROTOCOL_VECTORS: set by ctest here and
// by the Windows workflow there), so no path of the build machine is baked in.
//
// JSON allows an escaped unpaired surrogate, which the vectors use and which
// nlohmann-json refuses; such an escape is carried through the parse as a
// plane-15 private-use code point and turned back into its unit by u16().
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/os_string.h"

namespace zub::test_support {

using Json = nlohmann::json;

namespace detail {

constexpr char32_t CARRIED_SURROGATE_BASE = 0xF0000;  // U+F0000 + (unit - 0xD800)

inline bool is_high(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool is_low(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

inline std::string escape_unit(unsigned unit) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string text = "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) text += HEX[(unit >> shift) & 0xF];
    return text;
}

inline std::string escape_pair(char32_t code_point) {
    const unsigned v = static_cast<unsigned>(code_point) - 0x10000U;
    return escape_unit(0xD800U + (v >> 10U)) + escape_unit(0xDC00U + (v & 0x3FFU));
}

// Rewrites each escaped surrogate that is not half of an escaped pair.
inline std::string carry_unpaired_surrogates(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto escaped_unit = [&](std::size_t at, unsigned& unit) {
        if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return false;
        unit = static_cast<unsigned>(std::stoul(text.substr(at + 2, 4), nullptr, 16));
        return true;
    };
    for (std::size_t at = 0; at < text.size();) {
        unsigned unit = 0;
        if (text[at] != '\\') {
            out += text[at++];
        } else if (!escaped_unit(at, unit)) {
            out += text.substr(at, 2);  // any other escape, \\ included, stays whole
            at += 2;
        } else if (unsigned next = 0; is_high(unit) && escaped_unit(at + 6, next) && is_low(next)) {
            out += text.substr(at, 12);
            at += 12;
        } else if (is_high(unit) || is_low(unit)) {
            out += escape_pair(CARRIED_SURROGATE_BASE + (unit - 0xD800));
            at += 6;
        } else {
            out += text.substr(at, 6);
            at += 6;
        }
    }
    return out;
}

}  // namespace detail

// A string of the vectors as UTF-16 units, unpaired surrogates restored.
inline std::u16string u16(const Json& value) {
    const std::u16string units = to_utf16(value.get<std::string>());
    std::u16string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (i + 1 < units.size() && detail::is_high(units[i]) && detail::is_low(units[i + 1])) {
            const unsigned high = units[i] - 0xD800U;
            const unsigned low = units[i + 1] - 0xDC00U;
            const char32_t code_point = 0x10000U + (high << 10U) + low;
            if (code_point >= detail::CARRIED_SURROGATE_BASE && code_point < detail::CARRIED_SURROGATE_BASE + 0x800) {
                out.push_back(static_cast<char16_t>(0xD800 + (code_point - detail::CARRIED_SURROGATE_BASE)));
                ++i;
                continue;
            }
        }
        out.push_back(units[i]);
    }
    return out;
}

inline std::vector<std::u16string> u16_list(const Json& array) {
    std::vector<std::u16string> out;
    for (const Json& item : array) out.push_back(u16(item));
    return out;
}

inline std::string name_of(const Json& vector) { return vector.at("name").get<std::string>(); }

// Reads the file named by an environment variable; throws when it cannot.
inline Json read_json_named_by(const char* variable) {
    const char* path = std::getenv(variable);
    if (path == nullptr || *path == '\0') throw std::runtime_error(std::string(variable) + " is not set");
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error(std::string("cannot read ") + path + " (from " + variable + ")");
    std::ostringstream text;
    text << file.rdbuf();
    return Json::parse(detail::carry_unpaired_surrogates(text.str()));
}

inline Json read_protocol_vectors() { return read_json_named_by("ZUB_PROTOCOL_VECTORS"); }

}  // namespace zub::test_support
