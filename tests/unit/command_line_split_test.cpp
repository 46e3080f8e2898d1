#include "protocol/command_line_split.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace zub {
namespace {

const std::u16string MODULE = u"C:\\zub\\zub-sandbox-helper.exe";

std::vector<OsString> split(OsStringView line) { return split_command_line(line, MODULE); }

TEST(SplitCommandLine, EmptyLineGivesOnlyTheModulePath) {
    EXPECT_EQ(split(u""), std::vector<OsString>{MODULE});
    EXPECT_EQ(split_command_line(u"", u""), std::vector<OsString>{u""});
}

TEST(SplitCommandLine, ArgumentZeroKeepsBackslashesAndDropsQuotes) {
    struct Case {
        std::u16string line;
        std::vector<OsString> expected;
    };
    const Case cases[] = {
        {u"h.exe", {u"h.exe"}},
        {u"\"C:\\Program Files\\h.exe\" a", {u"C:\\Program Files\\h.exe", u"a"}},
        // In argument zero a backslash never escapes the quote that follows it.
        {u"C:\\dir\\\"x y\"\\h.exe a", {u"C:\\dir\\x y\\h.exe", u"a"}},
        {u"h.exe\t \ta", {u"h.exe", u"a"}},
        {u"h.exe   ", {u"h.exe"}},
        {u"  a", {u"", u"a"}},
        {u"\"\" a", {u"", u"a"}},
        {u"\"unterminated path a", {u"unterminated path a"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split(c.line), c.expected) << to_utf8_lossy(c.line);
    }
}

TEST(SplitCommandLine, FurtherArgumentRules) {
    struct Case {
        const char* rule;
        std::u16string tail;  // after "h.exe "
        std::vector<OsString> expected;
    };
    const Case cases[] = {
        {"blanks separate", u"a  b\tc", {u"a", u"b", u"c"}},
        {"trailing blanks add nothing", u"a \t ", {u"a"}},
        {"three backslashes and a quote", u"a\\\\\\\"b", {u"a\\\"b"}},
        {"one backslash and a quote", u"\\\"", {u"\""}},
        {"two backslashes then a quote opens", u"a\\\\\"b c\"", {u"a\\b c"}},
        {"four backslashes then a quote", u"\\\\\\\\\"x\"", {u"\\\\x"}},
        {"backslashes without a quote stay", u"a\\\\b c\\", {u"a\\\\b", u"c\\"}},
        {"quoted space", u"\"a b\" c", {u"a b", u"c"}},
        {"quoted tab", u"\"a\tb\"", {u"a\tb"}},
        {"doubled quote inside quotes", u"\"a\"\"b c\" d", {u"a\"b c", u"d"}},
        {"three quotes", u"\"\"\"", {u"\""}},
        {"quotes join pieces", u"a\"b\"c", {u"abc"}},
        {"empty quoted in the middle", u"a \"\" b", {u"a", u"", u"b"}},
        {"empty quoted at the end", u"a \"\"", {u"a", u""}},
        {"empty quoted before trailing blanks", u"a \"\"  ", {u"a", u""}},
        {"open quote at the end", u"a \"", {u"a", u""}},
        {"unterminated quote keeps blanks", u"\"a b ", {u"a b "}},
        {"quote closed then text", u"\"a\"b", {u"ab"}},
    };
    for (const Case& c : cases) {
        std::vector<OsString> expected{u"h.exe"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(split(u"h.exe " + c.tail), expected) << c.rule;
    }
}

TEST(SplitCommandLine, UnpairedSurrogatesPassThrough) {
    const std::u16string lone{char16_t(0xD83D)};
    const std::u16string line = u"h.exe \"a" + lone + u" b\" " + lone;
    EXPECT_EQ(split(line), (std::vector<OsString>{u"h.exe", u"a" + lone + u" b", lone}));
}

// The quoting a parent does, written independently of the splitter.
std::u16string quote(const std::u16string& arg) {
    if (!arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos) return arg;
    std::u16string out = u"\"";
    std::size_t backslashes = 0;
    for (const char16_t unit : arg) {
        if (unit == u'\\') {
            ++backslashes;
            continue;
        }
        out.append(unit == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        out.push_back(unit);
        backslashes = 0;
    }
    out.append(2 * backslashes, u'\\');
    out.push_back(u'"');
    return out;
}

TEST(SplitCommandLine, RoundTripsQuotedArgumentsAtScale) {
    // 2,000 random arguments built from the characters that matter to the rules.
    const char16_t alphabet[] = {u'a', u' ', u'\t', u'"', u'\\', u'\\', char16_t(0xDC00), u'\u00e9'};
    std::mt19937 rng(12345);
    std::vector<OsString> args{u"h.exe"};
    std::u16string line = u"h.exe";
    for (int i = 0; i < 2000; ++i) {
        std::u16string arg;
        const std::size_t length = rng() % 12;
        for (std::size_t k = 0; k < length; ++k) arg.push_back(alphabet[rng() % std::size(alphabet)]);
        line += u' ';
        line += quote(arg);
        args.push_back(arg);
    }
    EXPECT_EQ(split(line), args);
}

TEST(SplitCommandLine, VeryLongArgumentsAndBackslashRuns) {
    const std::u16string run(100000, u'\\');
    const auto result = split(u"h.exe " + run + u"\"" + u" x" + std::u16string(100000, u'y'));
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[1], std::u16string(50000, u'\\') + u" x" + std::u16string(100000, u'y'));
}

}  // namespace
}  // namespace zub
