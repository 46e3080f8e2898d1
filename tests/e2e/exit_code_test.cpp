// The child's exit code becomes the helper's, all 32 bits, and a successful
// run writes nothing of the helper's own on either stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_launch.h"

namespace {

struct ExitCase {
    const char* name;
    std::vector<std::u16string> action;
    std::uint32_t exit_code;
};

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }


const ExitCase CASES[] = {
    {"Zero", {u"exit", u"0"}, 0},
    {"Seven", {u"exit", u"7"}, 7},
    {"StillActiveValue", {u"exit", u"259"}, 259},
    {"SameAsArgvFailure", {u"exit", u"64"}, 64},
    {"SameAsRunFailure", {u"exit", u"66"}, 66},
    {"AllBitsSet", {u"exit", u"0xFFFFFFFF"}, 0xFFFFFFFFu},
    {"AccessViolationCode", {u"exit", u"0xC0000005"}, 0xC0000005u},
    {"RealAccessViolation", {u"crash"}, 0xC0000005u},
};

class ChildExitCode : public testing::TestWithParam<ExitCase> {};

TEST_P(ChildExitCode, PassesThroughSilently) {
    std::vector<std::u16string> args = {u"-"};
    args.insert(args.end(), GetParam().action.begin(), GetParam().action.end());
    // The child's streams are the test's pipes too: neither helper nor child may write.
    e2e::RunFlags flags;
    flags.stdin_mode = flags.stdout_mode = flags.stderr_mode = u"inherit";
    const e2e::LaunchResult result = e2e::launch(e2e::helper_run(flags, e2e::probe_path(), args));
    ASSERT_TRUE(result.started) << "CreateProcessW error " << result.create_error;
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, GetParam().exit_code);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, ChildExitCode, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<ExitCase>& tested) {
                             return std::string(tested.param.name);
                         });

}  // namespace
