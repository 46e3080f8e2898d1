// The quoted debug form of any program (UTF-16 units, unpaired surrogates and
// NUL included): quoted, valid UTF-8, no raw control or invisible character,
// every escape well formed and needed, and the escapes undone give back the
// very units. The two messages that show a program or a path use the forms.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "protocol/debug_form.h"
#include "protocol/sandbox_error.h"

namespace {

using namespace zub;

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Characters that must never stand raw, whatever the tables say: controls,
// line and paragraph separators, spaces other than U+0020, format characters,
// private use, non-characters, a combining mark.
bool must_be_escaped(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
    if (c >= 0xE000 && c <= 0xF8FF) return true;
    if (c >= 0xFDD0 && c <= 0xFDEF) return true;
    if ((c & 0xFFFE) == 0xFFFE) return true;
    switch (c) {
        case 0xA0: case 0xAD: case 0x0301: case 0x1680: case 0x200B: case 0x200E:
        case 0x2028: case 0x2029: case 0x202E: case 0x3000: case 0xFEFF:
            return true;
        default:
            return false;
    }
}

void append_units(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
}

// Reads "{hex}" at `i` (just after "\u"): lower-case digits, no leading zero.
char32_t read_code_escape(const std::u32string& s, std::size_t& i) {
    FUZZ_CHECK(i < s.size() && s[i] == U'{');
    ++i;
    const std::size_t first = i;
    char32_t value = 0;
    while (i < s.size() && s[i] != U'}') {
        const char32_t d = s[i];
        FUZZ_CHECK((d >= U'0' && d <= U'9') || (d >= U'a' && d <= U'f'));
        FUZZ_CHECK(i - first < 6);
        value = value * 16 + (d <= U'9' ? d - U'0' : d - U'a' + 10);
        ++i;
    }
    FUZZ_CHECK(i < s.size() && i > first);
    FUZZ_CHECK(s[first] != U'0');
    ++i;
    return value;
}

// Undoes the escapes of the form's inside; checks each escape is one the form
// uses and each raw character one it may leave raw.
std::u16string undo_escapes(const std::u32string& s) {
    std::u16string units;
    for (std::size_t i = 1; i + 1 < s.size();) {
        const char32_t c = s[i++];
        FUZZ_CHECK(c != U'"');
        if (c != U'\\') {
            FUZZ_CHECK(!must_be_escaped(c));
            FUZZ_CHECK(is_printable(c) && !is_grapheme_extend(c));
            append_units(units, c);
            continue;
        }
        FUZZ_CHECK(i + 1 < s.size());
        const char32_t e = s[i++];
        switch (e) {
            case U'\\': units.push_back(u'\\'); break;
            case U'"': units.push_back(u'"'); break;
            case U'0': units.push_back(u'\0'); break;
            case U't': units.push_back(u'\t'); break;
            case U'n': units.push_back(u'\n'); break;
            case U'r': units.push_back(u'\r'); break;
            case U'u': {
                const char32_t v = read_code_escape(s, i);
                FUZZ_CHECK(i < s.size());
                FUZZ_CHECK(v <= 0x10FFFF);
                FUZZ_CHECK(v != 0 && v != U'\t' && v != U'\n' && v != U'\r');
                FUZZ_CHECK(is_surrogate(v) || !is_printable(v) || is_grapheme_extend(v));
                append_units(units, v);
                break;
            }
            default: FUZZ_CHECK(!"unknown escape");
        }
    }
    return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const OsString program = zub::fuzz::units_from_pairs(data, size);
    const std::string form = debug_quoted(program);

    FUZZ_CHECK(form.size() >= 2 && form.front() == '"' && form.back() == '"');
    std::u32string chars;
    FUZZ_CHECK(zub::fuzz::decode_utf8(form, chars));
    FUZZ_CHECK(undo_escapes(chars) == program);

    const std::uint32_t code = static_cast<std::uint32_t>(size * 2654435761u);
    const std::string tail = " failed with Win32 error " + std::to_string(code);
    FUZZ_CHECK(render(SandboxError{sandbox_error::CreateProcessW{program, code}}) ==
               "CreateProcessW(" + form + ")" + tail);
    // A path is shown as plain lossy text, neither quoted nor escaped.
    FUZZ_CHECK(render(SandboxError{sandbox_error::GetNamedSecurityInfoW{program, code}}) ==
               "GetNamedSecurityInfoW(" + zub::fuzz::lossy_utf8(program) + ")" + tail);
    return 0;
}
