// The child holds only what it is given. The test program holds an inheritable
// file of its own and passes pipes as the helper's standard streams, so the
// helper holds both; the probe then scans its own handle table as a hostile
// script would and writes into every pipe or file it finds.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "e2e_launch.h"
#include "e2e_probe_report.h"
#include "base/os_string.h"

namespace {

constexpr char16_t PARENT_FILE[] = u"parent-secret.log";

struct InheritCase {
    const char* name;
    bool through_helper;  // false: the probe started directly, with every inheritable handle
    const char16_t* stdin_mode;
    const char16_t* stdout_mode;
    const char16_t* stderr_mode;
};

void PrintTo(const InheritCase& c, std::ostream* os) { *os << c.name; }

bool names_parent_file(const e2e::ProbeHandle& handle) {
    const std::u16string suffix = std::u16string(u"\\") + PARENT_FILE;
    std::u16string name = handle.name;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; });
    return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class HandleInheritance : public testing::TestWithParam<InheritCase> {};

TEST_P(HandleInheritance, ChildHoldsExactlyItsStreams) {
    const InheritCase& c = GetParam();
    e2e::ScratchDir dir;
    const std::wstring parent_path = dir.join(e2e::to_wide(PARENT_FILE));
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE parent_file = CreateFileW(parent_path.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     &inheritable, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(parent_file, INVALID_HANDLE_VALUE);

    const std::wstring report_path = dir.join(L"handles.txt");
    const std::vector<std::u16string> probe_args = {e2e::to_u16(report_path), u"handles"};
    e2e::LaunchOptions options;
    if (c.through_helper) {
        e2e::RunFlags flags;
        flags.stdin_mode = c.stdin_mode;
        flags.stdout_mode = c.stdout_mode;
        flags.stderr_mode = c.stderr_mode;
        options = e2e::helper_run(flags, e2e::probe_path(), probe_args);
    } else {
        options = e2e::direct_run(e2e::probe_path(), probe_args);
    }
    const e2e::LaunchResult result = e2e::launch(options);
    CloseHandle(parent_file);
    ASSERT_TRUE(result.started);
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0u) << result.err;
    const auto report = e2e::read_probe_report(report_path);
    ASSERT_TRUE(report);
    ASSERT_EQ(report->std_handles.size(), 3u);

    std::string table = "\nthe child's handles:";  // shown with a failure
    for (const e2e::ProbeHandle& handle : report->handles) {
        char value[24];
        (void)std::snprintf(value, sizeof value, "%llx", static_cast<unsigned long long>(handle.value));
        table += std::string("\n  ") + value + " " + handle.type + " " + zub::to_utf8_lossy(handle.name);
    }
    std::set<std::uintptr_t> pipes;
    bool holds_parent_file = false;
    for (const e2e::ProbeHandle& handle : report->handles) {
        if (handle.type == "pipe") pipes.insert(handle.value);
        holds_parent_file = holds_parent_file || names_parent_file(handle);
    }
    // The pipes this test handed over as the (helper's) standard streams, for
    // each stream that passes the helper's own handle on.
    const std::u16string modes[] = {c.stdin_mode, c.stdout_mode, c.stderr_mode};
    std::set<std::uintptr_t> expected_pipes;
    for (int i = 0; i < 3; ++i) {
        if (!c.through_helper || modes[i] != u"null") {
            expected_pipes.insert(result.std_handles[i]);
            EXPECT_EQ(report->std_handles[i], result.std_handles[i]) << "stream " << i;
        } else {
            EXPECT_NE(report->std_handles[i], result.std_handles[i]) << "stream " << i;
        }
    }

    if (!c.through_helper) {
        // The control: a process started with every inheritable handle holds
        // the parent's file too, and the scan finds it.
        EXPECT_TRUE(holds_parent_file) << table;
        EXPECT_TRUE(std::includes(pipes.begin(), pipes.end(), expected_pipes.begin(),
                                  expected_pipes.end()));
        return;
    }
    EXPECT_FALSE(holds_parent_file) << "the child holds the test program's file" << table;
    EXPECT_EQ(pipes, expected_pipes) << "the child holds pipes it was not given" << table;
    // Handles of the child's own (its current directory) refuse the write.
    for (const std::string& leak : report->leaks) EXPECT_EQ(leak.find("wrote"), std::string::npos) << leak;
    EXPECT_EQ(result.out.find("zub-probe-leak"), std::string::npos);
    EXPECT_EQ(result.err.find("zub-probe-leak"), std::string::npos);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(parent_path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 0u) << "the child wrote into the test program's file";
}

const InheritCase CASES[] = {
    {"DirectChildControl", false, u"inherit", u"inherit", u"inherit"},
    {"AllNull", true, u"null", u"null", u"null"},
    {"AllInherit", true, u"inherit", u"inherit", u"inherit"},
    {"NullInputPipedOutput", true, u"null", u"piped", u"inherit"},
};

INSTANTIATE_TEST_SUITE_P(Cases, HandleInheritance, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<InheritCase>& tested) {
                             return std::string(tested.param.name);
                         });

}  // namespace
