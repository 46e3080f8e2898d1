// The production helper's answer to a bad command line: one exact line on
// stderr, nothing on stdout, 64 (or 65 for a version mismatch). These runs end
// before the profile service, so they work on Wine with the real executable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_launch.h"

namespace {

const std::string EM_DASH = "\xE2\x80\x94";

std::string unknown_flag(const std::string& flag) {
    return "unrecognized helper flag `" + flag + "` " + EM_DASH +
           " parent and helper protocol versions appear to be out of sync; reinstall zub";
}

struct ArgvCase {
    const char* name;
    std::vector<std::u16string> args;
    std::string message;
    std::uint32_t exit_code;
};

void PrintTo(const ArgvCase& c, std::ostream* os) { *os << c.name; }


const std::vector<std::u16string> VALID_BUT_VERSION_7 = {
    u"--protocol-version", u"7", u"--appcontainer-name", u"c", u"--stdio-stdin", u"null",
    u"--stdio-stdout", u"inherit", u"--stdio-stderr", u"piped", u"--", u"prog"};

const ArgvCase CASES[] = {
    {"NoArguments", {}, "argv is missing the `--` separator before the program path", 64},
    {"UnknownFlag", {u"--bogus"}, unknown_flag("--bogus"), 64},
    {"EqualsFormIsUnknown", {u"--stdio-stdin=null"}, unknown_flag("--stdio-stdin=null"), 64},
    {"EmptyArgument", {u""}, unknown_flag(""), 64},
    {"NonAsciiFlagKeptAsUtf8", {u"--\u00fcber-\U0001F600"},
     unknown_flag("--\xC3\xBC" "ber-\xF0\x9F\x98\x80"), 64},
    {"UnpairedSurrogateShownAsReplacement", {std::u16string(u"--x") + char16_t(0xD800)},
     unknown_flag("--x\xEF\xBF\xBD"), 64},
    {"SeparatorWithoutProgram", {u"--protocol-version", u"1", u"--"},
     "argv contains `--` but no program path follows it", 64},
    {"MissingValue", {u"--stdio-stdin", u"null", u"--working-dir"},
     "flag `--working-dir` requires a value but none was provided", 64},
    {"InvalidStdioValue", {u"--stdio-stdin", u"NULL"},
     "stdio flag `--stdio-stdin` received `NULL`, expected one of `inherit`, `null`, `piped`", 64},
    {"InvalidProtocolVersion", {u"--protocol-version", u"4294967296", u"--", u"p"},
     "`--protocol-version` value `4294967296` is not a valid u32", 64},
    {"MissingRequiredFlag",
     {u"--protocol-version", u"1", u"--appcontainer-name", u"c", u"--stdio-stdin", u"null",
      u"--stdio-stderr", u"null", u"--", u"prog"},
     "required flag `--stdio-stdout` was not provided", 64},
    {"VersionMismatch", VALID_BUT_VERSION_7,
     "protocol version mismatch: parent supplied 7, this helper supports 1. Reinstall zub so "
     "the helper binary matches `zub.exe`.",
     65},
    {"VersionMismatchBeforeMissingName",
     {u"--protocol-version", u"7", u"--stdio-stdin", u"null", u"--", u"prog"},
     "protocol version mismatch: parent supplied 7, this helper supports 1. Reinstall zub so "
     "the helper binary matches `zub.exe`.",
     65},
};

class ProductionArgvFailure : public testing::TestWithParam<ArgvCase> {};

TEST_P(ProductionArgvFailure, OneExactLineAndStatus) {
    const ArgvCase& c = GetParam();
    std::vector<std::u16string> items = {e2e::to_u16(e2e::helper_path())};
    items.insert(items.end(), c.args.begin(), c.args.end());
    e2e::LaunchOptions options;
    options.application = e2e::helper_path();
    options.command_line = e2e::join_command_line(items);
    const e2e::LaunchResult result = e2e::launch(options);

    ASSERT_TRUE(result.started) << "CreateProcessW error " << result.create_error;
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.err, "zub-sandbox-helper: argv parse failed: " + c.message + "\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_code, c.exit_code);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProductionArgvFailure, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<ArgvCase>& info) {
                             return std::string(info.param.name);
                         });

// An empty command line: argument zero comes from the module path, nothing else.
TEST(ProductionArgvFailure, EmptyCommandLine) {
    e2e::LaunchOptions options;
    options.application = e2e::helper_path();
    options.command_line = L"";
    const e2e::LaunchResult result = e2e::launch(options);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.err,
              "zub-sandbox-helper: argv parse failed: argv is missing the `--` separator before "
              "the program path\n");
    EXPECT_EQ(result.exit_code, 64u);
}

}  // namespace
