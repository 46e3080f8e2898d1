// Where the child starts, and the one line the helper writes when the child
// cannot be created at all.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <string>

#include "e2e_launch.h"
#include "e2e_probe_report.h"

namespace {

// The CreateProcessW failure line, with whatever error code (not 0) the system gave:
// the code is read from the line's end, and the whole line checked against it.
void expect_create_process_failure(const e2e::LaunchResult& result, const std::u16string& program) {
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 66u);
    EXPECT_EQ(result.out, "");
    const std::size_t last_space = result.err.rfind(' ');
    ASSERT_NE(last_space, std::string::npos) << result.err;
    std::uint32_t code = 0;
    const char* digits = result.err.data() + last_space + 1;
    ASSERT_EQ(std::from_chars(digits, result.err.data() + result.err.size(), code).ec, std::errc{})
        << result.err;
    EXPECT_NE(code, 0u) << result.err;
    EXPECT_EQ(result.err, e2e::run_failure_line(zub::sandbox_error::CreateProcessW{program, code}));
}

TEST(WorkingDir, ChildStartsInTheGivenDirectory) {
    e2e::ScratchDir dir;
    const std::wstring work = dir.join(L"work dir \u00fc \U0001F600");
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    const std::wstring report_path = dir.join(L"cwd.txt");
    e2e::RunFlags flags;
    flags.extra = {u"--working-dir", e2e::to_u16(work)};
    const e2e::LaunchResult result = e2e::launch(
        e2e::helper_run(flags, e2e::probe_path(), {e2e::to_u16(report_path), u"report"}));
    EXPECT_EQ(result.exit_code, 0u) << result.err;
    const auto report = e2e::read_probe_report(report_path);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->cwd, e2e::to_u16(work));
}

TEST(WorkingDir, WithoutOneTheChildStartsWhereTheHelperRuns) {
    e2e::ScratchDir dir;
    const std::wstring report_path = dir.join(L"cwd.txt");
    e2e::LaunchOptions options =
        e2e::helper_run({}, e2e::probe_path(), {e2e::to_u16(report_path), u"report"});
    options.current_directory = dir.path();
    const e2e::LaunchResult result = e2e::launch(options);
    EXPECT_EQ(result.exit_code, 0u) << result.err;
    const auto report = e2e::read_probe_report(report_path);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->cwd, e2e::to_u16(dir.path()));
}

TEST(RunFailure, MissingWorkingDirNamesTheProgram) {
    e2e::ScratchDir dir;
    e2e::RunFlags flags;
    flags.extra = {u"--working-dir", e2e::to_u16(dir.join(L"does-not-exist"))};
    const e2e::LaunchResult result =
        e2e::launch(e2e::helper_run(flags, e2e::probe_path(), {u"-", u"exit", u"0"}));
    expect_create_process_failure(result, e2e::to_u16(e2e::probe_path()));
}

TEST(RunFailure, MissingProgram) {
    e2e::ScratchDir dir;
    const std::u16string program = e2e::to_u16(dir.join(L"no such program \u00e9.exe"));
    const e2e::LaunchResult result =
        e2e::launch(e2e::helper_run({}, e2e::to_wide(program), {u"arg"}));
    expect_create_process_failure(result, program);
}

TEST(RunFailure, ProgramWithTabIsEscapedInTheLine) {
    const std::u16string program = u"no\tsuch\"prog.exe";
    const e2e::LaunchResult result =
        e2e::launch(e2e::helper_run({}, e2e::to_wide(program), {}));
    expect_create_process_failure(result, program);
}

}  // namespace
