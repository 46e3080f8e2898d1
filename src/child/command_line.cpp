#include "child/command_line.h"

namespace zub {
namespace {

bool needs_quotes(std::u16string_view item) {
    if (item.empty()) return true;
    // Only what the C runtime's splitting treats as separator or quote; no
    // other character (carriage return, the shell's & | < > ^ %) forces quoting.
    return item.find_first_of(u" \t\n\v\"") != std::u16string_view::npos;
}

// Appends the item's command-line form. The rules look only at ASCII units,
// so working on UTF-16 units gives the same line as working on characters.
void append_quoted(std::u16string& line, std::u16string_view item) {
    if (!needs_quotes(item)) {
        line.append(item);
        return;
    }
    line.push_back(u'"');
    std::size_t backslashes = 0;  // written since the last other character
    for (const char16_t unit : item) {
        if (unit == u'\\') {
            ++backslashes;
        } else if (unit == u'"') {
            // Double the run before the quote, then escape the quote itself.
            line.append(backslashes + 1, u'\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        line.push_back(unit);
    }
    // A trailing run would otherwise escape the closing quote.
    line.append(backslashes, u'\\');
    line.push_back(u'"');
}

}  // namespace

std::u16string quote_arg(std::u16string_view item) {
    std::u16string out;
    out.reserve(item.size() + 2);
    append_quoted(out, item);
    return out;
}

std::u16string build_command_line(const OsString& program, const std::vector<OsString>& args) {
    std::size_t estimate = program.size() + 3;
    for (const OsString& arg : args) estimate += arg.size() + 3;
    std::u16string line;
    line.reserve(estimate);
    // The child sees text: an unpaired surrogate cannot travel in it.
    append_quoted(line, replace_unpaired_surrogates(program));
    for (const OsString& arg : args) {
        line.push_back(u' ');
        append_quoted(line, replace_unpaired_surrogates(arg));
    }
    line.push_back(u'\0');
    return line;
}

}  // namespace zub
