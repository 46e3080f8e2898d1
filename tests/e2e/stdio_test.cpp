// The three stream modes as the child lives them: "null" reads EOF and swallows
// output, "inherit" and "piped" hand over the helper's own handles (here the
// test's pipes).
#include <gtest/gtest.h>

#include <string>

#include "e2e_launch.h"
#include "e2e_probe_report.h"

namespace {

struct StdioCase {
    const char* name;
    const char16_t* stdin_mode;
    const char16_t* stdout_mode;
    const char16_t* stderr_mode;
    std::string child_reads;  // what the probe reads from stdin
    std::string out;          // what reaches the test's stdout pipe
    std::string err;          // and its stderr pipe
};

void PrintTo(const StdioCase& c, std::ostream* os) { *os << c.name; }


const std::string INPUT = "input line\n\x01\xff";

const StdioCase CASES[] = {
    {"AllNull", u"null", u"null", u"null", "", "", ""},
    {"AllInherit", u"inherit", u"inherit", u"inherit", INPUT, "probe-stdout\n", "probe-stderr\n"},
    {"AllPiped", u"piped", u"piped", u"piped", INPUT, "probe-stdout\n", "probe-stderr\n"},
    {"NullInputOnly", u"null", u"inherit", u"piped", "", "probe-stdout\n", "probe-stderr\n"},
    {"NullOutputOnly", u"inherit", u"null", u"inherit", INPUT, "", "probe-stderr\n"},
    {"NullErrorOnly", u"piped", u"inherit", u"null", INPUT, "probe-stdout\n", ""},
};

class StdioModes : public testing::TestWithParam<StdioCase> {};

TEST_P(StdioModes, ChildSeesTheChosenStreams) {
    const StdioCase& c = GetParam();
    e2e::RunFlags flags;
    flags.stdin_mode = c.stdin_mode;
    flags.stdout_mode = c.stdout_mode;
    flags.stderr_mode = c.stderr_mode;
    e2e::ScratchDir dir;
    const std::wstring report_path = dir.join(L"stdio.txt");
    e2e::LaunchOptions options =
        e2e::helper_run(flags, e2e::probe_path(), {e2e::to_u16(report_path), u"report"});
    options.stdin_data = INPUT;
    const e2e::LaunchResult result = e2e::launch(options);
    ASSERT_TRUE(result.started);
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0u) << result.err;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);

    const auto report = e2e::read_probe_report(report_path);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->stdin_status, "eof");
    EXPECT_EQ(report->stdin_data, c.child_reads);
    // Writes to the null device succeed; the output just goes nowhere.
    EXPECT_EQ(report->stdout_status, "ok");
    EXPECT_EQ(report->stderr_status, "ok");
}

INSTANTIATE_TEST_SUITE_P(Cases, StdioModes, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<StdioCase>& tested) {
                             return std::string(tested.param.name);
                         });

}  // namespace
