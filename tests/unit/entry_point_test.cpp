#include "helper_appcontainer/entry_point.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "protocol/argv_error.h"
#include "protocol/sandbox_error.h"

namespace zub {
namespace {

using test::FakeExit;
using test::FakePlatform;
using test::Op;
using test::os;

// The helper's one line on stderr. The messages' wording is pinned by the rendering
// tests; what the entry point adds, and this pins, is the prefix and the line end.
std::string argv_line(const ArgvError& error) {
    return "zub-sandbox-helper: argv parse failed: " + render(error) + "\n";
}
std::string run_line(const SandboxError& error) { return "zub-sandbox-helper: " + render(error) + "\n"; }

const char VALID_FLAGS[] =
    "helper.exe --protocol-version 1 --appcontainer-name c --stdio-stdin null "
    "--stdio-stdout inherit --stdio-stderr piped";

// helper_main never returns; the fake's exit_process throws instead of ending
// the test, so the status is only ever set by the catch.
std::uint32_t run_main(FakePlatform& fake) {
    std::uint32_t status = 0xDEADBEEF;
    try {
        helper_main(fake);
    } catch (const FakeExit& exit) {
        status = exit.status;
    }
    return status;
}

struct OutcomeCase {
    const char* name;
    std::string command_line;
    std::uint32_t status;
    std::string line;
};

void PrintTo(const OutcomeCase& c, std::ostream* out) { *out << c.name; }

class EntryPointOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(EntryPointOutcome, WritesOneLineAndExitsWithItsStatus) {
    const OutcomeCase& c = GetParam();
    FakePlatform fake;
    fake.command_line = os(c.command_line);
    fake.environment = std::u16string(u"A=1\0\0", 5);
    fake.child_exit_code = 0xC0000005;
    fake.add_reparse_point(u"C:\\link");
    EXPECT_EQ(run_main(fake), c.status);
    EXPECT_EQ(fake.stderr_bytes, c.line);
    EXPECT_EQ(fake.calls(Op::ExitProcess), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntryPointOutcome,
    ::testing::Values(
        OutcomeCase{"unknown_flag", "helper.exe --bogus", 64, argv_line(argv_error::UnknownFlag{"--bogus"})},
        OutcomeCase{"version_mismatch_before_missing_name",
                    "helper.exe --protocol-version 7 --stdio-stdin null --stdio-stdout inherit "
                    "--stdio-stderr piped -- prog",
                    65, argv_line(argv_error::ProtocolVersionMismatch{7, 1})},
        OutcomeCase{"only_the_helper_path", "helper.exe", 64, argv_line(argv_error::MissingSeparator{})},
        OutcomeCase{"child_exit_code_all_32_bits", std::string(VALID_FLAGS) + " -- prog", 0xC0000005, ""},
        OutcomeCase{"run_failure", std::string(VALID_FLAGS) + " --readable-dir C:\\link -- prog", 66,
                    run_line(sandbox_error::ReparsePoint{u"C:\\link"})}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(EntryPoint, RunFailureLineCarriesNoArgvPrefix) {
    FakePlatform fake;
    fake.command_line = os(std::string(VALID_FLAGS) + " -- C:\\tools\\node.exe");
    fake.environment = std::u16string(u"\0\0", 2);
    fake.fail(Op::CreateProcessW, 1, 2);
    EXPECT_EQ(run_main(fake), 66u);
    EXPECT_EQ(fake.stderr_bytes, run_line(sandbox_error::CreateProcessW{u"C:\\tools\\node.exe", 2}));
}

TEST(EntryPoint, EmptyCommandLineUsesTheModulePathAsArgumentZero) {
    FakePlatform fake;
    fake.command_line = u"";
    EXPECT_EQ(run_main(fake), 64u);
    EXPECT_EQ(fake.calls(Op::GetModuleFileNameW), 1);
    EXPECT_EQ(fake.stderr_bytes, argv_line(argv_error::MissingSeparator{}));
}

TEST(EntryPoint, FatalStopWhenTheEnvironmentCannotBeRead) {
    FakePlatform fake;
    fake.command_line = os(std::string(VALID_FLAGS) + " -- prog");
    fake.environment.reset();
    fake.environment_error = 8;
    EXPECT_EQ(run_main(fake), 101u);
    EXPECT_NE(fake.stderr_bytes.find("failure getting env string from OS: Not enough memory resources "
                                     "are available to process this command. (os error 8)"),
              std::string::npos)
        << fake.stderr_bytes;
    EXPECT_EQ(fake.calls(Op::CreateProcessW), 0);
}

struct StderrCase {
    const char* name;
    bool console;
    std::uint32_t code_page;
    Handle handle;
    std::uint32_t write_error;  // 0: the write succeeds
    std::uint32_t status;
    bool bytes_written;
    bool console_written;
};

void PrintTo(const StderrCase& c, std::ostream* out) { *out << c.name; }

class EntryPointStderr : public ::testing::TestWithParam<StderrCase> {};

TEST_P(EntryPointStderr, ReachesStandardErrorTheRightWay) {
    const StderrCase& c = GetParam();
    FakePlatform fake;
    fake.command_line = u"helper.exe --bogus";
    fake.stderr_is_console = c.console;
    fake.console_output_cp = c.code_page;
    if (c.handle != 0x18) fake.std_handles[2] = c.handle;
    if (c.write_error) {
        fake.fail(Op::WriteFile, 1, c.write_error);
        fake.fail(Op::WriteConsoleW, 1, c.write_error);
    }
    EXPECT_EQ(run_main(fake), c.status);
    const std::string expected = argv_line(argv_error::UnknownFlag{"--bogus"});
    if (c.bytes_written) {
        EXPECT_EQ(fake.stderr_bytes, expected);
    }
    if (c.console_written) {
        EXPECT_EQ(fake.console_text, to_utf16(expected));
        EXPECT_EQ(fake.stderr_bytes, "");
    }
    if (!c.bytes_written && !c.console_written && c.status != 101) {
        EXPECT_EQ(fake.stderr_bytes, "");
        EXPECT_EQ(fake.console_text, u"");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntryPointStderr,
    ::testing::Values(StderrCase{"pipe_or_file", false, 437, 0x18, 0, 64, true, false},
                      StderrCase{"utf8_console", true, 65001, 0x18, 0, 64, true, false},
                      StderrCase{"legacy_console", true, 437, 0x18, 0, 64, false, true},
                      StderrCase{"no_handle", false, 65001, NO_HANDLE, 0, 64, false, false},
                      StderrCase{"invalid_handle_value", false, 65001, INVALID_HANDLE, 0, 64, false, false},
                      StderrCase{"write_error_invalid_handle", false, 65001, 0x18, 6, 64, false, false},
                      StderrCase{"write_error_other", false, 65001, 0x18, 232, 101, false, false}),
    [](const auto& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace zub
