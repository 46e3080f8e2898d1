// Attribute lists, jobs and child processes: this test program re-invoked as the child.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "platform/win32_platform.h"
#include "support/scratch_dir.h"
#include "win32_test.h"

namespace zub {
namespace {

using win32_test::u16;

constexpr wchar_t CHILD_FLAG[] = L"--zub-child=";
constexpr std::uint32_t HELPER_CREATION_FLAGS = 0x00080604;
constexpr std::uint32_t JOB_EXTENDED_LIMIT_CLASS = 9;
constexpr std::uint32_t KILL_ON_JOB_CLOSE = 0x2000;

DWORD env_number(const wchar_t* name) {
    wchar_t value[32] = {};
    if (GetEnvironmentVariableW(name, value, 32) == 0) return 1000;
    return static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
}

// Runs before GoogleTest sees the command line: in child mode the process
// never reaches the tests.
//   exit:N  exits with N;  sleep  never ends;  env  exits with ZUB_CHILD_CODE;
//   cwd     exits with 0 when the current directory is ZUB_EXPECT_CWD, else 1.
[[maybe_unused]] const bool CHILD_MODE_HANDLED = [] {
    const wchar_t* flag = std::wcsstr(GetCommandLineW(), CHILD_FLAG);
    if (flag == nullptr) return false;
    const std::wstring mode = flag + std::wcslen(CHILD_FLAG);
    if (mode.rfind(L"exit:", 0) == 0) ExitProcess(std::wcstoul(mode.c_str() + 5, nullptr, 10));
    if (mode == L"sleep") Sleep(INFINITE);
    if (mode == L"env") ExitProcess(env_number(L"ZUB_CHILD_CODE"));
    if (mode == L"cwd") {
        wchar_t expected[MAX_PATH] = {};
        wchar_t actual[MAX_PATH] = {};
        GetEnvironmentVariableW(L"ZUB_EXPECT_CWD", expected, MAX_PATH);
        GetCurrentDirectoryW(MAX_PATH, actual);
        ExitProcess(lstrcmpiW(expected, actual) == 0 ? 0 : 1);
    }
    ExitProcess(999);
}();

std::u16string child_command_line(Platform& platform, const std::u16string& mode) {
    std::u16string line = u"\"";
    line.append(platform.get_module_file_name()).append(u"\" ").append(u16(CHILD_FLAG));
    return line.append(mode);
}

class Win32ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        const HandleResult created = platform.create_job_object_w();
        ASSERT_TRUE(is_closable_handle(created.handle)) << created.error;
        job = created.handle;
        JobExtendedLimitInformation limits{};
        limits.basic_limit_information.limit_flags = KILL_ON_JOB_CLOSE;
        const BoolResult set = platform.set_information_job_object(
            job, JOB_EXTENDED_LIMIT_CLASS, &limits, sizeof limits);
        ASSERT_TRUE(set.ok) << set.error;
    }
    void TearDown() override {
        if (process.thread != 0) platform.close_handle(process.thread);
        if (process.process != 0) platform.close_handle(process.process);
        if (job != 0) platform.close_handle(job);
    }

    // Starts the child suspended as the helper does, then assigns and resumes it.
    void start(const std::u16string& mode, const std::u16string* environment = nullptr,
               const std::u16string* directory = nullptr) {
        std::u16string command_line = child_command_line(platform, mode);
        const std::u16string empty_environment(2, u'\0');
        StartupInfoEx startup{};
        startup.startup_info.cb = sizeof startup;
        startup.startup_info.flags = STARTF_USESTDHANDLES;
        const BoolResult created = platform.create_process_w(
            command_line.data(), true, HELPER_CREATION_FLAGS,
            environment ? environment->c_str() : empty_environment.c_str(),
            directory ? directory->c_str() : nullptr, &startup, &process);
        ASSERT_TRUE(created.ok) << created.error;
        const BoolResult assigned = platform.assign_process_to_job_object(job, process.process);
        ASSERT_TRUE(assigned.ok) << assigned.error;
        std::uint32_t error = 0;
        EXPECT_EQ(platform.resume_thread(process.thread, &error), 1u) << error;
    }

    std::uint32_t wait_for_exit_code() {
        EXPECT_EQ(platform.wait_for_single_object(process.process, 30000), 0u);
        std::uint32_t code = 0x12345678;
        const BoolResult read = platform.get_exit_code_process(process.process, &code);
        EXPECT_TRUE(read.ok) << read.error;
        return code;
    }

    Win32Platform platform;
    Handle job = 0;
    ProcessInformation process{};
};

class Win32ExitCodeTest : public Win32ProcessTest,
                          public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(Win32ExitCodeTest, FullExitCodeIsRead) {
    std::u16string mode = u"exit:";
    start(mode.append(u16(std::to_wstring(GetParam()))));
    EXPECT_EQ(wait_for_exit_code(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Codes, Win32ExitCodeTest,
                         ::testing::Values(0u, 7u, 259u, 0xC0000005u, 0xFFFFFFFEu));

TEST_F(Win32ProcessTest, ChildSeesTheGivenEnvironmentBlock) {
    const std::u16string environment(u"ZUB_CHILD_CODE=42\0\0", 19);
    start(u"env", &environment);
    EXPECT_EQ(wait_for_exit_code(), 42u);
}

TEST_F(Win32ProcessTest, ChildStartsInTheGivenDirectory) {
    test_support::ScratchDir scratch;
    const std::u16string directory = u16(scratch.path());
    std::u16string environment = u"ZUB_EXPECT_CWD=";
    environment.append(directory).append(2, u'\0');
    start(u"cwd", &environment, &directory);
    EXPECT_EQ(wait_for_exit_code(), 0u);
}

TEST_F(Win32ProcessTest, ClosingTheJobEndsItsProcesses) {
    start(u"sleep");
    EXPECT_EQ(platform.wait_for_single_object(process.process, 200), WAIT_TIMEOUT);
    EXPECT_TRUE(platform.close_handle(job));
    job = 0;
    EXPECT_EQ(platform.wait_for_single_object(process.process, 30000), 0u);
}

TEST_F(Win32ProcessTest, MissingProgramFailsWithFileNotFound) {
    test_support::ScratchDir scratch;
    std::u16string command_line = u"\"";
    command_line.append(u16(scratch.join(L"no-such.exe"))).push_back(u'"');
    const std::u16string environment(2, u'\0');
    StartupInfoEx startup{};
    startup.startup_info.cb = sizeof startup;
    const BoolResult created =
        platform.create_process_w(command_line.data(), true, HELPER_CREATION_FLAGS,
                                  environment.c_str(), nullptr, &startup, &process);
    EXPECT_FALSE(created.ok);
    EXPECT_EQ(created.error, ERROR_FILE_NOT_FOUND_CODE);
}

TEST_F(Win32ProcessTest, FailuresOnBadHandlesCarryTheirErrors) {
    std::uint32_t error = 0;
    EXPECT_EQ(platform.resume_thread(NO_HANDLE, &error), 0xFFFFFFFFu);
    EXPECT_EQ(error, ERROR_INVALID_HANDLE_CODE);
    EXPECT_EQ(platform.wait_for_single_object(NO_HANDLE, 0), WAIT_FAILED);
    std::uint32_t code = 0;
    EXPECT_EQ(platform.get_exit_code_process(NO_HANDLE, &code).error, ERROR_INVALID_HANDLE_CODE);
    JobExtendedLimitInformation limits{};
    EXPECT_FALSE(platform.set_information_job_object(job, JOB_EXTENDED_LIMIT_CLASS, &limits,
                                                     sizeof limits - 8).ok);
}

TEST_F(Win32ProcessTest, AttributeListIsSizedInitialisedAndUpdated) {
    std::size_t size = 0;
    const BoolResult sizing = platform.initialize_proc_thread_attribute_list(nullptr, 1, 0, &size);
    EXPECT_FALSE(sizing.ok);
    EXPECT_EQ(sizing.error, ERROR_INSUFFICIENT_BUFFER_CODE);
    ASSERT_GT(size, 0u);

    std::vector<std::uint64_t> buffer((size + 7) / 8);
    const BoolResult init =
        platform.initialize_proc_thread_attribute_list(buffer.data(), 1, 0, &size);
    ASSERT_TRUE(init.ok) << init.error;
    const HandleResult nul =
        platform.create_file_w(u"NUL", GENERIC_READ, 1, nullptr, OPEN_EXISTING, 0);
    ASSERT_TRUE(is_closable_handle(nul.handle));
    Handle handles[] = {nul.handle};
    const BoolResult update = platform.update_proc_thread_attribute(
        buffer.data(), 0, HANDLE_LIST_ATTRIBUTE, handles, sizeof handles);
    EXPECT_TRUE(update.ok) << update.error;
    platform.delete_proc_thread_attribute_list(buffer.data());
    platform.close_handle(nul.handle);
}

}  // namespace
}  // namespace zub
