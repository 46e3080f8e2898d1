#pragma once
// OS strings: text exactly as the system gave it, as UTF-16 units (unpaired
// surrogates kept), and the conversions to and from UTF-8.
#include <string>
#include <string_view>

namespace zub {

using OsString = std::u16string;
using OsStringView = std::u16string_view;

constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// One decoded position of a UTF-16 sequence.
struct CodePoint {
    char32_t value;           // the scalar value, or the lone unit itself
    bool unpaired_surrogate;  // true when value is a surrogate without its partner
    std::size_t units;        // how many units it took (1 or 2)
};

// Decodes the code point that starts at `index` (index < text.size()).
CodePoint decode_at(OsStringView text, std::size_t index);

// Appends the UTF-8 form of a scalar value.
void append_utf8(std::string& out, char32_t value);

// Appends a scalar value as one or two UTF-16 units.
void append_utf16(std::u16string& out, char32_t value);

// UTF-8 to UTF-16 units: characters above U+FFFF as surrogate pairs, no
// terminator added, embedded NULs kept. Malformed bytes become U+FFFD.
std::u16string to_utf16(std::string_view utf8);

// UTF-16 to UTF-8; every unpaired surrogate becomes U+FFFD.
std::string to_utf8_lossy(OsStringView text);

// Same units, with every unpaired surrogate replaced by U+FFFD.
OsString replace_unpaired_surrogates(OsStringView text);

// True when the text holds no unpaired surrogate (converts without replacement).
bool is_valid_unicode(OsStringView text);

// Units followed by exactly one NUL unit, as every string handed to the system.
std::u16string to_wide_nul(OsStringView text);

}  // namespace zub
