// The helper splits its own command line itself. The C runtime's start-up code
// (Wine's msvcrt, seen through the probe's argv) is the independent peer: both
// must split the same raw lines into the same arguments.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "e2e_launch.h"
#include "e2e_probe_report.h"
#include "protocol/command_line_split.h"
#include "base/os_string.h"

namespace {

// Starts the probe directly with `tail` after its own fixed arguments and
// compares argv[1..] with the helper's splitting of the very same line.
void expect_same_split(const e2e::ScratchDir& dir, const std::u16string& tail, int index) {
    const std::wstring report_path = dir.join(L"split-" + std::to_wstring(index) + L".txt");
    const std::u16string line =
        e2e::quote_item(e2e::to_u16(e2e::probe_path())) + u" " +
        e2e::quote_item(e2e::to_u16(report_path)) + u" report " + tail;
    SCOPED_TRACE("line: " + zub::to_utf8_lossy(line));

    e2e::LaunchOptions options;
    options.application = e2e::probe_path();
    options.command_line = e2e::to_wide(line);
    const e2e::LaunchResult result = e2e::launch(options);
    ASSERT_TRUE(result.started) << "CreateProcessW error " << result.create_error;
    ASSERT_EQ(result.exit_code, 0u) << result.err;
    const auto report = e2e::read_probe_report(report_path);
    ASSERT_TRUE(report);
    ASSERT_EQ(report->command_line, line);

    const std::vector<zub::OsString> ours =
        zub::split_command_line(line, e2e::to_u16(e2e::probe_path()));
    ASSERT_FALSE(ours.empty());
    ASSERT_FALSE(report->argv.empty());
    const std::vector<std::u16string> crt(report->argv.begin() + 1, report->argv.end());
    const std::vector<std::u16string> split(ours.begin() + 1, ours.end());
    EXPECT_EQ(split, crt);
}

TEST(SplitPeer, HandWrittenLines) {
    const std::u16string tails[] = {
        u"a b c",
        u"\"a b\" c",
        u"a\\\\\\\"b",          // three backslashes and a quote
        u"a\\\\\"b c\"",        // two backslashes and a quote that opens quoted text
        u"a\\\\b \\\\",         // backslashes not before a quote stay
        u"\"a\"\"b c\" d",      // doubled quote inside quoted text
        u"\"in \"\" quotes\" \"\"\"\"",
        u"x \"\" y",
        u"\"\"",                // empty quoted section at the end
        u"a    ",               // trailing spaces add nothing
        u"\"unterminated quote  ",
        u"\"ends with quote\"",
        u"a\"b\"c \"a\"b\" c",
        u"\"\\\\\" \"a\\\\\\\\\"",
        u"\t tab\tseparated\t",
        u"\"\"\"\"\"\"",
        u"\\\"\\\"\\\"",
        u"\" \" \"\t\"",
        u"a\"\" b",
        u"\u00e9t\u00e9 \U0001F600 \"\u00fc x\"",
        u"-- --env \"A=B C\"",
    };
    e2e::ScratchDir dir;
    int index = 0;
    for (const std::u16string& tail : tails) expect_same_split(dir, tail, index++);
}

// Random lines over the characters that matter to splitting, plus non-ASCII.
TEST(SplitPeer, GeneratedLines) {
    const std::u16string alphabet[] = {u"a", u"b", u" ", u"\t", u"\"", u"\"", u"\\",
                                       u"\\", u"\u00e9", u"\U0001F600"};
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> length(0, 14);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(alphabet)) - 1);
    e2e::ScratchDir dir;
    for (int index = 0; index < 40; ++index) {
        std::u16string tail;
        for (int n = length(random); n > 0; --n) tail += alphabet[pick(random)];
        expect_same_split(dir, tail, index);
    }
}

}  // namespace
