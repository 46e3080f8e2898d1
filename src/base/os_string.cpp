#include "base/os_string.h"

namespace zub {
namespace {

bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

CodePoint decode_at(OsStringView text, std::size_t index) {
    const char16_t unit = text[index];
    if (is_high_surrogate(unit) && index + 1 < text.size() && is_low_surrogate(text[index + 1])) {
        const char32_t value =
            0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[index + 1] - 0xDC00);
        return {value, false, 2};
    }
    const bool lone = is_high_surrogate(unit) || is_low_surrogate(unit);
    return {static_cast<char32_t>(unit), lone, 1};
}

void append_utf8(std::string& out, char32_t value) {
    if (value < 0x80) {
        out.push_back(static_cast<char>(value));
    } else if (value < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (value >> 6)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (value >> 12)));
        out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (value >> 18)));
        out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
}

void append_utf16(std::u16string& out, char32_t value) {
    if (value < 0x10000) {
        out.push_back(static_cast<char16_t>(value));
    } else {
        const char32_t v = value - 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    }
}

std::u16string to_utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t len = 0;
        char32_t value = 0;
        char32_t min = 0;
        if (lead < 0x80) {
            len = 1, value = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            len = 2, value = lead & 0x1F, min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            len = 3, value = lead & 0x0F, min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            len = 4, value = lead & 0x07, min = 0x10000;
        }
        bool good = len != 0 && i + len <= utf8.size();
        for (std::size_t k = 1; good && k < len; ++k) {
            const auto cont = static_cast<unsigned char>(utf8[i + k]);
            good = (cont & 0xC0) == 0x80;
            value = (value << 6) | (cont & 0x3F);
        }
        good = good && value >= min && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
        if (!good) {
            out.push_back(static_cast<char16_t>(REPLACEMENT_CHARACTER));
            i += 1;
            continue;
        }
        append_utf16(out, value);
        i += len;
    }
    return out;
}

std::string to_utf8_lossy(OsStringView text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint cp = decode_at(text, i);
        append_utf8(out, cp.unpaired_surrogate ? REPLACEMENT_CHARACTER : cp.value);
        i += cp.units;
    }
    return out;
}

OsString replace_unpaired_surrogates(OsStringView text) {
    OsString out(text);
    for (std::size_t i = 0; i < out.size();) {
        const CodePoint cp = decode_at(out, i);
        if (cp.unpaired_surrogate) out[i] = static_cast<char16_t>(REPLACEMENT_CHARACTER);
        i += cp.units;
    }
    return out;
}

bool is_valid_unicode(OsStringView text) {
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint cp = decode_at(text, i);
        if (cp.unpaired_surrogate) return false;
        i += cp.units;
    }
    return true;
}

std::u16string to_wide_nul(OsStringView text) {
    std::u16string out;
    out.reserve(text.size() + 1);
    out.append(text);
    out.push_back(u'\0');
    return out;
}

}  // namespace zub
