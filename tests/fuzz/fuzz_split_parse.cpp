// Any command line (UTF-16 units, unpaired surrogates included): splitting
// agrees with a second, differently built splitter and passes every unit that
// is not a blank, quote or backslash through one for one; parsing yields a
// consistent request or an error whose message is valid UTF-8.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "protocol/argv_error.h"
#include "protocol/command_line_split.h"
#include "protocol/parse_args.h"

namespace {

using namespace zub;
using zub::fuzz::is_valid_utf8;

bool is_syntax_unit(char16_t u) { return u == u' ' || u == u'\t' || u == u'"' || u == u'\\'; }

// The units that splitting must pass through one for one, in sorted order.
std::u16string plain_units(const std::vector<OsString>& items) {
    std::u16string all;
    for (const OsString& item : items) all += item;
    std::erase_if(all, is_syntax_unit);
    std::sort(all.begin(), all.end());
    return all;
}

bool is_blank(char16_t u) { return u == u' ' || u == u'\t'; }

// The splitting rules once more, written as a machine that reads one unit at a
// time (the product looks ahead over runs instead), with the end-of-line rule
// taken literally: the last argument counts when it is not empty, when quoted
// text is open, or when the line ends on a closing quote.
std::vector<OsString> reference_split(const OsString& line, const OsString& module) {
    if (line.empty()) return {module};
    std::vector<OsString> out(1);
    std::size_t i = 0;
    for (bool quoted = false; i < line.size() && (quoted || !is_blank(line[i])); ++i) {
        if (line[i] == u'"') {
            quoted = !quoted;
        } else {
            out[0].push_back(line[i]);
        }
    }
    while (i < line.size() && is_blank(line[i])) ++i;

    OsString arg;
    bool started = false, quoted = false, just_closed = false;
    std::size_t backslashes = 0;
    for (; i < line.size(); ++i) {
        const char16_t u = line[i];
        if (u == u'\\') {
            ++backslashes;
            started = true;
            just_closed = false;
            continue;
        }
        if (u == u'"') {
            arg.append(backslashes / 2, u'\\');
            const bool escaped = backslashes % 2 == 1;
            backslashes = 0;
            started = true;
            if (escaped) {
                arg.push_back(u'"');
                just_closed = false;
            } else if (quoted) {
                quoted = false;
                just_closed = true;
            } else if (just_closed) {  // "" inside quoted text: a quote, and still quoted
                arg.push_back(u'"');
                quoted = true;
                just_closed = false;
            } else {
                quoted = true;
            }
            continue;
        }
        arg.append(backslashes, u'\\');
        backslashes = 0;
        just_closed = false;
        if (is_blank(u) && !quoted) {
            if (started) out.push_back(std::move(arg));
            arg.clear();
            started = false;
            continue;
        }
        arg.push_back(u);
        started = true;
    }
    arg.append(backslashes, u'\\');
    if (!arg.empty() || quoted || just_closed) out.push_back(std::move(arg));
    return out;
}

void check_split(const OsString& line, const OsString& module, const std::vector<OsString>& args) {
    FUZZ_CHECK(args == reference_split(line, module));
    if (line.empty()) {
        FUZZ_CHECK(args.size() == 1 && args[0] == module);
        return;
    }
    FUZZ_CHECK(plain_units(args) == plain_units({line}));
    std::size_t total = 0;
    for (const OsString& arg : args) total += arg.size();
    FUZZ_CHECK(total <= line.size());
}

void check_request(const std::vector<OsString>& arguments, const HelperRequest& request) {
    FUZZ_CHECK(request.protocol_version == SUPPORTED_PROTOCOL_VERSION);
    FUZZ_CHECK(is_valid_utf8(request.appcontainer_name));
    // The program and its arguments are the tail of the list, right behind a separator.
    const std::size_t tail = request.args.size() + 1;
    FUZZ_CHECK(arguments.size() >= tail + 1);
    const std::size_t program_at = arguments.size() - tail;
    FUZZ_CHECK(arguments[program_at - 1] == u"--");
    FUZZ_CHECK(arguments[program_at] == request.program);
    FUZZ_CHECK(std::equal(request.args.begin(), request.args.end(),
                          arguments.begin() + static_cast<std::ptrdiff_t>(program_at) + 1));
    // Every flag takes at least its own argument, plus the six required ones with values.
    const std::size_t listed = request.readable_dirs.size() + request.writable_dirs.size() +
                               request.readable_dirs_best_effort.size() + request.env.size() +
                               (request.working_dir ? 1 : 0);
    FUZZ_CHECK(2 * listed + 2 * 5 + 1 + tail <= arguments.size());
}

void check_error(const ArgvError& error) {
    const std::string message = render(error);
    FUZZ_CHECK(!message.empty());
    FUZZ_CHECK(is_valid_utf8(message));
    if (const auto* mismatch = std::get_if<argv_error::ProtocolVersionMismatch>(&error)) {
        FUZZ_CHECK(mismatch->supplied != SUPPORTED_PROTOCOL_VERSION);
        FUZZ_CHECK(mismatch->supported == SUPPORTED_PROTOCOL_VERSION);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const OsString line = zub::fuzz::units_from_pairs(data, size);
    const OsString module = u"C:\\zub\\zub-sandbox-helper.exe";
    std::vector<OsString> args = split_command_line(line, module);
    check_split(line, module, args);

    std::vector<OsString> arguments(args.begin() + 1, args.end());
    auto parsed = parse_helper_args(arguments);
    if (parsed) {
        check_request(arguments, parsed.value());
    } else {
        check_error(parsed.error());
    }
    return 0;
}
