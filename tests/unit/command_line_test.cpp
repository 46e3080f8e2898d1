#include "child/command_line.h"

#include <gtest/gtest.h>

#include <random>

#include "protocol/command_line_split.h"

namespace zub {
namespace {

std::u16string with_nul(const std::u16string& text) { return text + u'\0'; }

TEST(CommandLine, WorkedExamples) {
    struct Case {
        OsString program;
        std::vector<OsString> args;
        std::u16string line;
    };
    const Case cases[] = {
        {u"C:\\Tools Dir\\run.exe", {u"install.js", u"a b", u""},
         u"\"C:\\Tools Dir\\run.exe\" install.js \"a b\" \"\""},
        {u"node", {u"-e", u"console.log(\"hi\")"}, u"node -e \"console.log(\\\"hi\\\")\""},
        {u"tool", {u"C:\\dir\\", u"x\\y", u"\""}, u"tool C:\\dir\\ x\\y \"\\\"\""},
        {u"tool", {u"C:\\out dir\\"}, u"tool \"C:\\out dir\\\\\""},
        {u"tool", {u"a\\\\\"b"}, u"tool \"a\\\\\\\\\\\"b\""},
        {u"cmd.exe", {u"/c", u"npm run build & echo done"}, u"cmd.exe /c \"npm run build & echo done\""},
        {u"", {}, u"\"\""},
        {u"run.exe", {}, u"run.exe"},
        {u"", {u"", u"x"}, u"\"\" \"\" x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(build_command_line(c.program, c.args), with_nul(c.line));
    }
}

TEST(CommandLine, QuotingRules) {
    struct Case {
        std::u16string item;
        std::u16string form;
    };
    const Case cases[] = {
        // Only space, tab, line feed, vertical tab and double quote cause quoting.
        {u"a\tb", u"\"a\tb\""},
        {u"a\nb", u"\"a\nb\""},
        {u"a\vb", u"\"a\vb\""},
        {u"a\rb", u"a\rb"},
        {u"a\fb", u"a\fb"},
        {u"&|<>^%!()", u"&|<>^%!()"},
        // Backslashes double only before a quote or the closing quote.
        {u"a\\", u"a\\"},
        {u"a \\", u"\"a \\\\\""},
        {u"a \\b\\\\c", u"\"a \\b\\\\c\""},
        {u"\\\\\\\"", u"\"\\\\\\\\\\\\\\\"\""},  // 3 before a quote: 7
        {u"\"\"", u"\"\\\"\\\"\""},
        {u"\U0001F600 \u00e9", u"\"\U0001F600 \u00e9\""},
    };
    for (const Case& c : cases) EXPECT_EQ(quote_arg(c.item), c.form) << testing::PrintToString(c.item);
}

TEST(CommandLine, UnpairedSurrogatesBecomeReplacementCharacters) {
    const OsString lone_high(1, char16_t(0xD800));
    const OsString lone_low(1, char16_t(0xDC00));
    const std::u16string line =
        build_command_line(u"p" + lone_low, {lone_high + u" x", u"\U0001F600", lone_low + lone_high});
    EXPECT_EQ(line, with_nul(u"p\ufffd \"\ufffd x\" \U0001F600 \ufffd\ufffd"));
}

// Random items from an alphabet rich in what the quoting and splitting rules
// look at, then the line split back by the helper's own C-runtime rules.
class ItemGenerator {
public:
    explicit ItemGenerator(std::uint32_t seed) : random_(seed) {}

    OsString item(bool allow_quote) {
        static const std::u16string units[] = {u"a", u" ", u"\t", u"\\", u"\\\\", u"\"", u"\n", u"\v",
                                               u"\r", u"\u00e9", u"\U0001F600", u"\xD800", u"\xDC00"};
        OsString out;
        const int length = std::uniform_int_distribution<int>(0, 8)(random_);
        for (int i = 0; i < length; ++i) {
            const std::size_t pick = std::uniform_int_distribution<std::size_t>(0, std::size(units) - 1)(random_);
            if (!allow_quote && units[pick] == u"\"") continue;
            out += units[pick];
        }
        return out;
    }

    int count() { return std::uniform_int_distribution<int>(0, 5)(random_); }

private:
    std::mt19937 random_;
};

TEST(CommandLine, SplittingTheBuiltLineGivesTheItemsBack) {
    ItemGenerator generate(20240601);
    for (int round = 0; round < 3000; ++round) {
        // Argument zero is split without escapes: no quote in it, and no
        // trailing backslash once it is quoted (that one would be doubled).
        OsString program = generate.item(false);
        if (quote_arg(replace_unpaired_surrogates(program)).front() == u'"' && !program.empty() &&
            program.back() == u'\\') {
            program += u'x';
        }
        std::vector<OsString> args(static_cast<std::size_t>(generate.count()));
        for (OsString& arg : args) arg = generate.item(true);

        const std::u16string line = build_command_line(program, args);
        ASSERT_EQ(line.back(), u'\0');
        ASSERT_EQ(line.find(u'\0'), line.size() - 1);
        std::vector<OsString> expected{replace_unpaired_surrogates(program)};
        for (const OsString& arg : args) expected.push_back(replace_unpaired_surrogates(arg));
        const std::vector<OsString> split =
            split_command_line(OsStringView(line).substr(0, line.size() - 1), u"unused");
        ASSERT_EQ(split, expected) << "line: " << testing::PrintToString(line);
    }
}

}  // namespace
}  // namespace zub
