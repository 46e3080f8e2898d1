// The production helper's answer to a bad command line: one exact line on
// stderr, nothing on stdout, 64 (or 65 for a version mismatch). These runs end
// before the profile service, so they work on Wine with the real executable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_launch.h"

namespace {

using namespace zub::argv_error;

struct ArgvCase {
    const char* name;
    std::vector<std::u16string> args;
    zub::ArgvError error;
    std::uint32_t exit_code;
};

void PrintTo(const ArgvCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::u16string> VALID_BUT_VERSION_7 = {
    u"--protocol-version", u"7", u"--appcontainer-name", u"c", u"--stdio-stdin", u"null",
    u"--stdio-stdout", u"inherit", u"--stdio-stderr", u"piped", u"--", u"prog"};

// The messages' wording is pinned by the rendering tests; these runs pin which
// error the production executable reports, with what status.
const ArgvCase CASES[] = {
    {"NoArguments", {}, MissingSeparator{}, 64},
    {"UnknownFlag", {u"--bogus"}, UnknownFlag{"--bogus"}, 64},
    {"EqualsFormIsUnknown", {u"--stdio-stdin=null"}, UnknownFlag{"--stdio-stdin=null"}, 64},
    {"EmptyArgument", {u""}, UnknownFlag{""}, 64},
    {"NonAsciiFlagKeptAsUtf8", {u"--\u00fcber-\U0001F600"},
     UnknownFlag{"--\xC3\xBC" "ber-\xF0\x9F\x98\x80"}, 64},
    {"UnpairedSurrogateShownAsReplacement", {std::u16string(u"--x") + char16_t(0xD800)},
     UnknownFlag{"--x\xEF\xBF\xBD"}, 64},
    {"SeparatorWithoutProgram", {u"--protocol-version", u"1", u"--"}, MissingProgram{}, 64},
    {"MissingValue", {u"--stdio-stdin", u"null", u"--working-dir"}, MissingValue{"--working-dir"}, 64},
    {"InvalidStdioValue", {u"--stdio-stdin", u"NULL"}, InvalidStdioValue{"--stdio-stdin", "NULL"}, 64},
    {"InvalidProtocolVersion", {u"--protocol-version", u"4294967296", u"--", u"p"},
     InvalidProtocolVersion{"4294967296"}, 64},
    {"MissingRequiredFlag",
     {u"--protocol-version", u"1", u"--appcontainer-name", u"c", u"--stdio-stdin", u"null",
      u"--stdio-stderr", u"null", u"--", u"prog"},
     MissingRequiredFlag{"stdio-stdout"}, 64},
    {"VersionMismatch", VALID_BUT_VERSION_7, ProtocolVersionMismatch{7, 1}, 65},
    {"VersionMismatchBeforeMissingName",
     {u"--protocol-version", u"7", u"--stdio-stdin", u"null", u"--", u"prog"},
     ProtocolVersionMismatch{7, 1}, 65},
};

class ProductionArgvFailure : public testing::TestWithParam<ArgvCase> {};

TEST_P(ProductionArgvFailure, OneExactLineAndStatus) {
    const ArgvCase& c = GetParam();
    const e2e::LaunchResult result = e2e::launch(e2e::direct_run(e2e::helper_path(), c.args));

    ASSERT_TRUE(result.started) << "CreateProcessW error " << result.create_error;
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.err, e2e::argv_failure_line(c.error));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_code, c.exit_code);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProductionArgvFailure, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<ArgvCase>& tested) {
                             return std::string(tested.param.name);
                         });

// An empty command line: argument zero comes from the module path, nothing else.
TEST(ProductionArgvFailure, EmptyCommandLine) {
    e2e::LaunchOptions options;
    options.application = e2e::helper_path();
    options.command_line = L"";
    const e2e::LaunchResult result = e2e::launch(options);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.err, e2e::argv_failure_line(MissingSeparator{}));
    EXPECT_EQ(result.exit_code, 64u);
}

}  // namespace
