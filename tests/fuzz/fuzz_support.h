#pragma once
// What the fuzz targets share: turning fuzz bytes into OS strings, a check that
// aborts (so libFuzzer reports the input), and UTF conversions written apart
// from the product's own so the targets do not check the code against itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zub::fuzz {

[[noreturn]] void check_failed(const char* condition, const char* file, int line);

#define FUZZ_CHECK(condition) \
    ((condition) ? void(0) : ::zub::fuzz::check_failed(#condition, __FILE__, __LINE__))

// Little-endian byte pairs, a trailing odd byte dropped: every unit can occur,
// unpaired surrogates and NUL included.
std::u16string units_from_pairs(const std::uint8_t* data, std::size_t size);

// A list of items without NUL units, in a compact form that keeps seeds readable:
//   0x00        ends the current item (the last item needs no end);
//   0x01..0x7F  that ASCII unit;
//   0x80..0x8F  a high surrogate, 0x90..0x9F a low one (so a pair of them
//               makes a character above U+FFFF and a single one stays unpaired);
//   0xA0..0xBF  one of a few troublesome BMP characters (spaces, marks, format
//               characters, non-characters);
//   0xC0..0xFE  U+0080..U+00BE (C1 controls and Latin-1);
//   0xFF lo hi  any unit (a NUL unit ends the item).
std::vector<std::u16string> items_from_bytes(const std::uint8_t* data, std::size_t size);

// Strict UTF-8 decoding (no overlong forms, no surrogates, nothing above
// U+10FFFF); false on any malformed sequence.
bool decode_utf8(std::string_view bytes, std::u32string& out);
bool is_valid_utf8(std::string_view bytes);

// The units with every unpaired surrogate replaced by U+FFFD.
std::u16string replace_lone_surrogates(std::u16string_view text);
// UTF-8 of the text, every unpaired surrogate as U+FFFD.
std::string lossy_utf8(std::u16string_view text);

}  // namespace zub::fuzz
