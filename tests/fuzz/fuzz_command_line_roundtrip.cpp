// The child's command line splits back into the items it was built from, each
// unpaired surrogate replaced by U+FFFD.
//
// Arguments 1..n come back exactly. Argument zero is split by simpler rules
// (quotes only toggle, backslashes are plain), so for the program this holds:
// without a double quote in it, it comes back exactly when it was written
// unquoted; when it was quoted, its trailing run of backslashes comes back
// doubled (the quoting doubles it for the argument rules, argument zero keeps
// both). A double quote in the program cannot be carried at all and shifts
// the arguments after it, so the fuzzed program has its double quotes removed;
// the line built with them is still built, for the sanitizers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "child/command_line.h"
#include "fuzz_support.h"
#include "protocol/command_line_split.h"

namespace {

using namespace zub;
using zub::fuzz::replace_lone_surrogates;

bool written_quoted(std::u16string_view item) {
    return item.empty() || item.find_first_of(u" \t\n\v\"") != std::u16string_view::npos;
}

OsString expected_program(const OsString& program) {
    OsString expected = replace_lone_surrogates(program);
    if (!written_quoted(expected)) return expected;
    const std::size_t last = expected.find_last_not_of(u'\\');
    const std::size_t trailing = expected.size() - (last == OsString::npos ? 0 : last + 1);
    expected.append(trailing, u'\\');
    return expected;
}

void check_line_form(const std::u16string& line, const OsString& program,
                     const std::vector<OsString>& args) {
    FUZZ_CHECK(!line.empty() && line.back() == u'\0');
    FUZZ_CHECK(line.find(u'\0') == line.size() - 1);
    FUZZ_CHECK(replace_lone_surrogates(line) == line);
    std::u16string joined = quote_arg(replace_lone_surrogates(program));
    for (const OsString& arg : args) joined += u' ' + quote_arg(replace_lone_surrogates(arg));
    FUZZ_CHECK(joined + u'\0' == line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<OsString> items = zub::fuzz::items_from_bytes(data, size);
    const OsString raw_program = items.front();
    const std::vector<OsString> args(items.begin() + 1, items.end());

    check_line_form(build_command_line(raw_program, args), raw_program, args);

    OsString program = raw_program;
    std::erase(program, u'"');
    const std::u16string line = build_command_line(program, args);
    check_line_form(line, program, args);

    for (const OsString& arg : args) {
        const OsString text = replace_lone_surrogates(arg);
        const std::u16string form = quote_arg(text);
        if (written_quoted(text)) {
            FUZZ_CHECK(form.size() >= 2 && form.front() == u'"' && form.back() == u'"');
        } else {
            FUZZ_CHECK(form == text);
        }
    }

    const std::vector<OsString> split =
        split_command_line(std::u16string_view(line).substr(0, line.size() - 1), u"unused");
    FUZZ_CHECK(split.size() == args.size() + 1);
    FUZZ_CHECK(split[0] == expected_program(program));
    for (std::size_t i = 0; i < args.size(); ++i) {
        FUZZ_CHECK(split[i + 1] == replace_lone_surrogates(args[i]));
    }
    return 0;
}
