#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

namespace zub::fuzz {
namespace {

bool is_high(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

constexpr char16_t TROUBLESOME[32] = {
    0x00A0, 0x00AD, 0x00E9, 0x0301, 0x034F, 0x0600, 0x061C, 0x0E31,  //
    0x1680, 0x180E, 0x200B, 0x200C, 0x200D, 0x200E, 0x2028, 0x2029,  //
    0x202E, 0x2060, 0x2066, 0x3000, 0x3099, 0xE000, 0xF8FF, 0xFDD0,  //
    0xFE0F, 0xFEFF, 0xFFF9, 0xFFFC, 0xFFFD, 0xFFFE, 0xFFFF, 0x0378,
};

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

void check_failed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", condition, file, line);
    std::abort();
}

std::u16string units_from_pairs(const std::uint8_t* data, std::size_t size) {
    std::u16string out;
    out.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    return out;
}

std::vector<std::u16string> items_from_bytes(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u16string> items(1);
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        char16_t unit = 0;
        if (b < 0x80) {
            unit = b;
        } else if (b < 0x90) {
            unit = static_cast<char16_t>(0xD800 + (b & 0x0F) * 0x40 + 0x3D);
        } else if (b < 0xA0) {
            unit = static_cast<char16_t>(0xDC00 + (b & 0x0F) * 0x40);
        } else if (b < 0xC0) {
            unit = TROUBLESOME[b - 0xA0];
        } else if (b < 0xFF) {
            unit = static_cast<char16_t>(0x80 + (b - 0xC0));
        } else {
            if (i + 2 >= size) break;
            unit = static_cast<char16_t>(data[i + 1] | (data[i + 2] << 8));
            i += 2;
        }
        if (unit == 0) {
            items.emplace_back();
        } else {
            items.back().push_back(unit);
        }
    }
    return items;
}

bool decode_utf8(std::string_view bytes, std::u32string& out) {
    out.clear();
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t len = 0;
        char32_t c = 0;
        char32_t min = 0;
        if (lead < 0x80) {
            len = 1, c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            len = 2, c = lead & 0x1F, min = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            len = 3, c = lead & 0x0F, min = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            len = 4, c = lead & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + len > bytes.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto cont = static_cast<unsigned char>(bytes[i + k]);
            if ((cont & 0xC0) != 0x80) return false;
            c = (c << 6) | (cont & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        out.push_back(c);
        i += len;
    }
    return true;
}

bool is_valid_utf8(std::string_view bytes) {
    std::u32string ignored;
    return decode_utf8(bytes, ignored);
}

std::u16string replace_lone_surrogates(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (is_high(u) && i + 1 < text.size() && is_low(text[i + 1])) {
            out.push_back(u);
            out.push_back(text[++i]);
        } else {
            out.push_back(is_high(u) || is_low(u) ? char16_t{0xFFFD} : u);
        }
    }
    return out;
}

std::string lossy_utf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t u = text[i];
        if (is_high(u) && i + 1 < text.size() && is_low(text[i + 1])) {
            append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (text[++i] - 0xDC00));
        } else {
            append_utf8(out, is_high(u) || is_low(u) ? 0xFFFD : u);
        }
    }
    return out;
}

}  // namespace zub::fuzz
