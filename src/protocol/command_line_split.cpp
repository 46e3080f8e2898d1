#include "protocol/command_line_split.h"

#include <cstddef>

namespace zub {
namespace {

constexpr char16_t SPACE = u' ';
constexpr char16_t TAB = u'\t';
constexpr char16_t QUOTE = u'"';
constexpr char16_t BACKSLASH = u'\\';

bool is_blank(char16_t unit) { return unit == SPACE || unit == TAB; }

std::size_t skip_blanks(OsStringView line, std::size_t i) {
    while (i < line.size() && is_blank(line[i])) ++i;
    return i;
}

// Argument zero is a path: quotes only group, backslashes are ordinary.
std::size_t take_program_name(OsStringView line, OsString& out) {
    bool quoted = false;
    std::size_t i = 0;
    for (; i < line.size(); ++i) {
        const char16_t unit = line[i];
        if (unit == QUOTE) {
            quoted = !quoted;
        } else if (!quoted && is_blank(unit)) {
            break;
        } else {
            out.push_back(unit);
        }
    }
    return i;
}

// One further argument starting at `i`, which is not a blank. Returns the
// position after it (at a blank outside quotes, or the end of the line).
std::size_t take_argument(OsStringView line, std::size_t i, OsString& out) {
    bool quoted = false;
    while (i < line.size()) {
        const char16_t unit = line[i];
        if (unit == BACKSLASH) {
            std::size_t run = 0;
            while (i < line.size() && line[i] == BACKSLASH) ++run, ++i;
            if (i < line.size() && line[i] == QUOTE) {
                out.append(run / 2, BACKSLASH);
                if (run % 2 == 1) {
                    out.push_back(QUOTE);
                    ++i;
                }
                // An even run leaves the quote to be handled as a quote.
            } else {
                out.append(run, BACKSLASH);
            }
        } else if (unit == QUOTE) {
            if (!quoted) {
                quoted = true;
            } else if (i + 1 < line.size() && line[i + 1] == QUOTE) {
                out.push_back(QUOTE);
                ++i;
            } else {
                quoted = false;
            }
            ++i;
        } else if (!quoted && is_blank(unit)) {
            break;
        } else {
            out.push_back(unit);
            ++i;
        }
    }
    return i;
}

}  // namespace

std::vector<OsString> split_command_line(OsStringView command_line, OsStringView module_path) {
    std::vector<OsString> args;
    if (command_line.empty()) {
        args.emplace_back(module_path);
        return args;
    }
    args.emplace_back();
    std::size_t i = skip_blanks(command_line, take_program_name(command_line, args.back()));
    // Every argument that was started is kept: one that came out empty consisted
    // only of quotes, so it is either still quoted or ends on a closing quote,
    // and trailing blanks never start one.
    while (i < command_line.size()) {
        args.emplace_back();
        i = skip_blanks(command_line, take_argument(command_line, i, args.back()));
    }
    return args;
}

}  // namespace zub
