#include "protocol/debug_form.h"

#include <algorithm>
#include <cstddef>

namespace zub {
namespace {

struct UnicodeRange {
    char32_t first;
    char32_t last;
};

#include "protocol/unicode_tables.inc"

template <std::size_t N>
constexpr bool sorted_and_disjoint(const UnicodeRange (&ranges)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        if (ranges[i].first > ranges[i].last) return false;
        if (i > 0 && ranges[i - 1].last >= ranges[i].first) return false;
    }
    return true;
}
static_assert(sorted_and_disjoint(NOT_PRINTABLE_RANGES), "regenerate unicode_tables.inc");
static_assert(sorted_and_disjoint(GRAPHEME_EXTEND_RANGES), "regenerate unicode_tables.inc");

template <std::size_t N>
bool in_ranges(const UnicodeRange (&ranges)[N], char32_t c) {
    // First range that ends at or after c; c is in the table iff that range starts at or before it.
    const UnicodeRange* end = ranges + N;
    const UnicodeRange* it = std::lower_bound(
        ranges, end, c, [](const UnicodeRange& r, char32_t value) { return r.last < value; });
    return it != end && it->first <= c;
}

void append_code_escape(std::string& out, char32_t value) {
    static constexpr char HEX[] = "0123456789abcdef";
    char digits[8];
    int count = 0;
    do {
        digits[count++] = HEX[value & 0xF];
        value >>= 4;
    } while (value != 0);
    out += "\\u{";
    while (count > 0) out.push_back(digits[--count]);
    out.push_back('}');
}

}  // namespace

bool is_printable(char32_t c) {
    if (c > 0x10FFFF) return false;
    return !in_ranges(NOT_PRINTABLE_RANGES, c);
}

bool is_grapheme_extend(char32_t c) { return in_ranges(GRAPHEME_EXTEND_RANGES, c); }

std::string debug_quoted(OsStringView text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint cp = decode_at(text, i);
        i += cp.units;
        if (cp.unpaired_surrogate) {
            append_code_escape(out, cp.value);
            continue;
        }
        switch (cp.value) {
            case U'"': out += "\\\""; continue;
            case U'\\': out += "\\\\"; continue;
            case U'\0': out += "\\0"; continue;
            case U'\t': out += "\\t"; continue;
            case U'\n': out += "\\n"; continue;
            case U'\r': out += "\\r"; continue;
            default: break;
        }
        if (!is_printable(cp.value) || is_grapheme_extend(cp.value)) {
            append_code_escape(out, cp.value);
        } else {
            append_utf8(out, cp.value);
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace zub
