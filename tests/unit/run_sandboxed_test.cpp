#include "helper_appcontainer/run_sandboxed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <set>

#include "fake_platform.h"

namespace zub {
namespace {

using test::FakePlatform;
using test::Op;
using test::os;

// A request that reaches every step of the run.
HelperRequest full_request() {
    HelperRequest request;
    request.protocol_version = 1;
    request.appcontainer_name = "zub.test";
    request.readable_dirs = {u"C:\\pkg"};
    request.writable_dirs = {u"C:\\out"};
    request.readable_dirs_best_effort = {u"C:\\cache"};
    request.grant_internet_client = true;
    request.env = {u"ZUB_X=1", u"PATH=C:\\bin"};
    request.working_dir = u"C:\\pkg";
    request.stdin_mode = StdioMode::Null;
    request.stdout_mode = StdioMode::Null;
    request.stderr_mode = StdioMode::Inherit;
    request.program = u"C:\\tools\\node.exe";
    request.args = {u"install.js", u"a b"};
    return request;
}

void set_up_machine(FakePlatform& fake) {
    fake.add_dir(u"C:\\pkg");
    fake.add_file(u"C:\\pkg\\index.js");
    fake.add_dir(u"C:\\pkg\\lib");
    fake.add_file(u"C:\\pkg\\lib\\a.js");
    fake.add_dir(u"C:\\out");
    fake.add_dir(u"C:\\cache");
    fake.environment = std::u16string(u"Path=C:\\Windows\0TEMP=C:\\t\0\0", 27);
    fake.profiles["zub.test"] = nullptr;  // an earlier run created the profile
    fake.child_exit_code = 7;
}

std::string message_of(const RunFailure& failure) {
    if (auto* error = std::get_if<SandboxError>(&failure)) return render(*error);
    return "fatal: " + std::get<FatalStop>(failure).message;
}

// Operations that release what the run acquired; they are not fault points.
bool is_release(Op operation) {
    static const std::set<Op> releases = {
        Op::CloseHandle, Op::LocalFree, Op::FreeSid, Op::DeleteProcThreadAttributeList,
        Op::FreeEnvironmentStringsW, Op::TerminateProcess, Op::FormatMessageW, Op::ReleaseMutex};
    return releases.count(operation) != 0;
}

// The order in which the run must give back what it holds: the attribute list
// goes before the handles it names, the container SID last of all.
const std::vector<std::string> RELEASE_ORDER = {
    "CloseHandle thread", "CloseHandle process", "DeleteProcThreadAttributeList",
    "CloseHandle nul:1",  "CloseHandle nul:2",   "CloseHandle job",
    "FreeSid sid:1"};

int release_rank(const std::string& entry) {
    const std::vector<std::string>& order = RELEASE_ORDER;
    auto it = std::find(order.begin(), order.end(), entry);
    return it == order.end() ? -1 : static_cast<int>(it - order.begin());
}

struct Fault {
    Op operation;
    int nth;
    std::string detail;
};

// Which faults must end the full request's run, and with what; none for those
// that it passes over (best effort, or below a root).
std::optional<RunFailure> expected_failure(const FakePlatform& fake, const Fault& fault, std::uint32_t code) {
    const auto before_failure = [&] {
        return std::vector<std::string>(fake.log.begin(),
                                        fake.log.begin() + static_cast<std::ptrdiff_t>(*fake.failed_at) + 1);
    };
    switch (fault.operation) {
        case Op::CreateAppContainerProfile: return sandbox_error::CreateAppContainerProfile{"zub.test", code};
        case Op::DeriveAppContainerSidFromAppContainerName:
            return sandbox_error::DeriveAppContainerSidFromAppContainerName{"zub.test", code};
        case Op::NtCreateFile:
            // A plain root opened again through its first handle.
            if (fault.detail == "NtCreateFile C:\\pkg") return sandbox_error::GetNamedSecurityInfoW{u"C:\\pkg", code};
            if (fault.detail == "NtCreateFile C:\\out") return sandbox_error::GetNamedSecurityInfoW{u"C:\\out", code};
            return std::nullopt;
        case Op::GetKernelObjectSecurity:
        case Op::GetSecurityDescriptorControl:
        case Op::GetSecurityDescriptorDacl:
        case Op::SetEntriesInAclW:
        case Op::SetKernelObjectSecurity: {
            // The object is the one whose DACL was read last; only plain roots fail the run,
            // under the name of the path-based call that the parent knows.
            const std::string read = "GetKernelObjectSecurity ";
            OsString granted;
            for (const std::string& entry : before_failure()) {
                if (entry.rfind(read, 0) == 0) granted = os(entry.substr(read.size()));
            }
            if (granted != u"C:\\pkg" && granted != u"C:\\out") return std::nullopt;
            if (fault.operation != Op::SetEntriesInAclW && fault.operation != Op::SetKernelObjectSecurity) {
                return sandbox_error::GetNamedSecurityInfoW{granted, code};
            }
            if (fault.operation == Op::SetEntriesInAclW) return sandbox_error::SetEntriesInAclW{granted, code};
            return sandbox_error::SetNamedSecurityInfoW{granted, code};
        }
        case Op::CreateWellKnownSid: return sandbox_error::CreateWellKnownSid{code};
        case Op::InitializeProcThreadAttributeList: return sandbox_error::InitializeProcThreadAttributeList{code};
        // The handle list's failure too: the parent knows no other message.
        case Op::UpdateProcThreadAttribute: return sandbox_error::UpdateProcThreadAttribute{code};
        case Op::CreateJobObjectW: return sandbox_error::CreateJobObjectW{code};
        case Op::SetInformationJobObject: return sandbox_error::SetInformationJobObject{code};
        case Op::CreateFileW: {
            // A root that cannot be opened for another reason than a refusal is skipped.
            if (fault.detail != "CreateFileW NUL") return std::nullopt;
            const auto entries = before_failure();
            const auto nul_opens = std::count(entries.begin(), entries.end(), "CreateFileW NUL");
            return sandbox_error::CreateFileW{nul_opens == 1 ? "stdin" : "stdout", code};
        }
        case Op::CreateProcessW: return sandbox_error::CreateProcessW{u"C:\\tools\\node.exe", code};
        case Op::AssignProcessToJobObject:
        case Op::ResumeThread: return sandbox_error::AssignProcessToJobObject{code};
        case Op::WaitForSingleObject:
            // Without the grant lock the grants go on, as they did before there was one.
            if (fault.detail.find("grant-mutex") != std::string::npos) return std::nullopt;
            return sandbox_error::WaitForSingleObject{code};
        case Op::GetExitCodeProcess: return sandbox_error::GetExitCodeProcess{code};
        case Op::GetEnvironmentStringsW:
            return FatalStop{"failure getting env string from OS: System error " + std::to_string(code) +
                             ". (os error " + std::to_string(code) + ")"};
        default: return std::nullopt;
    }
}

// The grant mutex, when held, is held from before the first DACL is read to
// after the last is written, and given back before anything else happens.
void expect_grants_inside_the_lock(const FakePlatform& fake) {
    const std::vector<std::string>& log = fake.log;
    const auto first = [&](const std::string& prefix) {
        return std::find_if(log.begin(), log.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    };
    const auto last = [&](const std::string& prefix) {
        auto it = std::find_if(log.rbegin(), log.rend(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
        return it == log.rend() ? log.end() : std::prev(it.base());
    };
    const auto released = first("ReleaseMutex");
    if (released == log.end()) return;
    const auto taken = first("WaitForSingleObject grant-mutex");
    ASSERT_NE(taken, log.end());
    for (const char* dacl_call : {"GetKernelObjectSecurity", "SetKernelObjectSecurity"}) {
        if (first(dacl_call) == log.end()) continue;
        EXPECT_LT(taken, first(dacl_call)) << dacl_call;
        EXPECT_GT(released, last(dacl_call)) << dacl_call;
    }
    EXPECT_EQ(*std::next(released), "CloseHandle grant-mutex");
    EXPECT_LT(released, first("CreateWellKnownSid"));
}

TEST(RunSandboxed, GrantLockIsHeldAroundTheGrantsOnlyWhenThereAreAny) {
    struct Row {
        const char* name;
        bool roots;
        std::optional<std::uint32_t> made_error;  // CreateGrantMutex fails with it
        std::uint32_t wait_result;
        bool held;
    };
    const Row rows[] = {
        {"free", true, std::nullopt, 0, true},
        {"abandoned by a helper that ended mid-walk", true, std::nullopt, 0x80, true},
        {"held by another past the wait", true, std::nullopt, 0x102, false},
        {"cannot be made or is not trusted", true, 5, 0, false},
        {"no roots at all", false, std::nullopt, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform fake;
        set_up_machine(fake);
        fake.grant_mutex_wait_result = row.wait_result;
        if (row.made_error) fake.fail(Op::CreateGrantMutex, 1, *row.made_error);
        HelperRequest request = full_request();
        if (!row.roots) request.readable_dirs = request.writable_dirs = request.readable_dirs_best_effort = {};
        auto result = run_sandboxed(fake, std::move(request));
        ASSERT_TRUE(result.ok()) << message_of(result.error());
        EXPECT_EQ(fake.calls(Op::CreateGrantMutex), row.roots ? 1 : 0);
        EXPECT_EQ(fake.calls(Op::ReleaseMutex), row.held ? 1 : 0);
        EXPECT_EQ(fake.grants.empty(), !row.roots);
        if (row.roots && !row.made_error) {
            EXPECT_EQ(std::count(fake.log.begin(), fake.log.end(), "WaitForSingleObject grant-mutex 0xea60"), 1);
        }
        expect_grants_inside_the_lock(fake);
    }
}

TEST(RunSandboxed, SucceedsThroughEveryStepAndReleasesInOrder) {
    FakePlatform fake;
    set_up_machine(fake);
    auto result = run_sandboxed(fake, full_request());
    ASSERT_TRUE(result.ok()) << message_of(result.error());
    EXPECT_EQ(result.value(), 7u);

    std::vector<std::string> releases;
    for (const std::string& entry : fake.log) {
        if (release_rank(entry) >= 0) releases.push_back(entry);
    }
    EXPECT_EQ(releases, RELEASE_ORDER);
    EXPECT_EQ(fake.log.back(), "FreeSid sid:1");
}

// Runs the full request once to learn every call, then once per fallible call
// with exactly that call failing.
TEST(RunSandboxed, FaultSweepFailsCleanlyAtEveryCall) {
    std::vector<Fault> faults;
    {
        FakePlatform fake;
        set_up_machine(fake);
        auto result = run_sandboxed(fake, full_request());
        ASSERT_TRUE(result.ok());
        std::map<Op, int> seen;
        const std::vector<Op> operations = fake.operations();
        for (std::size_t i = 0; i < operations.size(); ++i) {
            const Op operation = operations[i];
            const int nth = ++seen[operation];
            if (is_release(operation) || operation == Op::GetStdHandle) continue;
            faults.push_back({operation, nth, fake.log[i]});
        }
    }
    ASSERT_GE(faults.size(), 25u);

    constexpr std::uint32_t FAILURE_CODE = 1314;
    int failing_points = 0;
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.detail + " (call " + std::to_string(fault.nth) + ")");
        FakePlatform fake;
        set_up_machine(fake);
        fake.fail(fault.operation, fault.nth, FAILURE_CODE);
        auto result = run_sandboxed(fake, full_request());

        ASSERT_TRUE(fake.failed_at.has_value());
        const std::size_t failed_at = *fake.failed_at;
        const std::optional<RunFailure> expected = expected_failure(fake, fault, FAILURE_CODE);
        if (!expected) {
            // Best effort, or below a root: passed over, the run still succeeds.
            ASSERT_TRUE(result.ok()) << message_of(result.error());
            EXPECT_EQ(result.value(), 7u);
            continue;
        }
        ++failing_points;
        ASSERT_FALSE(result.ok()) << "the run went on";
        EXPECT_TRUE(result.error() == *expected)
            << message_of(result.error()) << "\n  expected: " << message_of(*expected);

        // After the failing call only releases follow, in the required order.
        const std::vector<Op> operations = fake.operations();
        int last_rank = -1;
        for (std::size_t i = failed_at + 1; i < fake.log.size(); ++i) {
            EXPECT_TRUE(is_release(operations[i])) << "called after the failure: " << fake.log[i];
            const int rank = release_rank(fake.log[i]);
            if (rank < 0) continue;
            EXPECT_GT(rank, last_rank) << "released out of order: " << fake.log[i];
            last_rank = rank;
        }
        expect_grants_inside_the_lock(fake);
        const bool sid_obtained = fault.operation != Op::CreateAppContainerProfile &&
                                  fault.operation != Op::DeriveAppContainerSidFromAppContainerName;
        EXPECT_EQ(fake.calls(Op::FreeSid), sid_obtained ? 1 : 0);
        if (fault.operation == Op::AssignProcessToJobObject) {
            EXPECT_EQ(fake.calls(Op::TerminateProcess), 1) << "a suspended child outside the job must not linger";
        } else {
            EXPECT_EQ(fake.calls(Op::TerminateProcess), 0);
        }
        // The fake's destructor checks that everything was released exactly once.
    }
    EXPECT_GE(failing_points, 18);
    std::printf("[ fault sweep ] %zu fault points, %d of them end the run\n", faults.size(), failing_points);
}

struct RecordCase {
    const char* name;
    bool internet_client;
    bool working_dir;
};

void PrintTo(const RecordCase& c, std::ostream* out) { *out << c.name; }

class RunRecords : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RunRecords, HandsTheSystemExactlyTheDocumentedRecords) {
    const RecordCase& c = GetParam();
    FakePlatform fake;
    set_up_machine(fake);
    HelperRequest request = full_request();
    request.grant_internet_client = c.internet_client;
    if (!c.working_dir) request.working_dir.reset();
    auto result = run_sandboxed(fake, std::move(request));
    ASSERT_TRUE(result.ok()) << message_of(result.error());

    ASSERT_TRUE(fake.created_process.has_value());
    const test::RecordedCreateProcess& p = *fake.created_process;
    EXPECT_EQ(p.command_line, u"C:\\tools\\node.exe install.js \"a b\"");
    EXPECT_TRUE(p.inherit_handles);
    EXPECT_EQ(p.creation_flags, 0x00080604u);
    EXPECT_EQ(p.environment, std::u16string(u"PATH=C:\\bin\0TEMP=C:\\t\0ZUB_X=1\0\0", 31));
    if (c.working_dir) {
        EXPECT_EQ(p.current_directory, OsString(u"C:\\pkg"));
    } else {
        EXPECT_FALSE(p.current_directory.has_value());
    }

    const StartupInfo& si = p.startup_info.startup_info;
    EXPECT_EQ(si.cb, 112u);
    EXPECT_EQ(si.flags, 0x100u);
    EXPECT_TRUE(is_closable_handle(si.std_input));
    EXPECT_TRUE(is_closable_handle(si.std_output));
    EXPECT_NE(si.std_output, si.std_input);
    EXPECT_NE(si.std_input, fake.std_handles[0]);
    EXPECT_EQ(si.std_error, fake.std_handles[2]);
    EXPECT_EQ(si.reserved, nullptr);
    EXPECT_EQ(si.desktop, nullptr);
    EXPECT_EQ(si.title, nullptr);
    EXPECT_EQ(si.x | si.y | si.x_size | si.y_size | si.x_count_chars | si.y_count_chars |
                  si.fill_attribute | si.show_window | si.cb_reserved2,
              0u);
    EXPECT_NE(p.startup_info.attribute_list, nullptr);

    ASSERT_TRUE(p.security_capabilities.has_value());
    const SecurityCapabilities& caps = *p.security_capabilities;
    ASSERT_FALSE(fake.grants.empty());
    EXPECT_EQ(caps.app_container_sid, fake.grants.front().entry.trustee.name);
    EXPECT_EQ(caps.reserved, 0u);
    if (c.internet_client) {
        EXPECT_EQ(caps.capability_count, 1u);
        ASSERT_EQ(p.capability_entries.size(), 1u);
        EXPECT_NE(p.capability_entries[0].sid, nullptr);
        EXPECT_EQ(p.capability_entries[0].attributes, 4u);
    } else {
        EXPECT_EQ(caps.capability_count, 0u);
        EXPECT_EQ(caps.capabilities, nullptr);
    }

    ASSERT_TRUE(fake.job_limits.has_value());
    const JobExtendedLimitInformation& j = *fake.job_limits;
    const JobBasicLimitInformation& b = j.basic_limit_information;
    EXPECT_EQ(b.limit_flags, 0x2000u) << "only the kill-on-close limit may be set";
    EXPECT_EQ(b.per_process_user_time_limit | b.per_job_user_time_limit, 0);
    EXPECT_EQ(b.minimum_working_set_size | b.maximum_working_set_size | b.affinity, 0u);
    EXPECT_EQ(b.active_process_limit | b.priority_class | b.scheduling_class, 0u);
    EXPECT_EQ(j.io_info.read_operation_count | j.io_info.other_transfer_count, 0u);
    EXPECT_EQ(j.process_memory_limit | j.job_memory_limit | j.peak_process_memory_used |
                  j.peak_job_memory_used,
              0u);

    // Confinement before the child runs; only the child itself is waited for.
    const std::vector<Op> ops = fake.operations();
    auto index = [&](Op op) { return std::find(ops.begin(), ops.end(), op) - ops.begin(); };
    EXPECT_LT(index(Op::CreateProcessW), index(Op::AssignProcessToJobObject));
    EXPECT_LT(index(Op::AssignProcessToJobObject), index(Op::ResumeThread));
    // The log and the operations share their indexes; the grant mutex is waited for too.
    const auto wait = std::find(fake.log.begin(), fake.log.end(), "WaitForSingleObject process 0xffffffff");
    ASSERT_NE(wait, fake.log.end());
    EXPECT_LT(index(Op::ResumeThread), wait - fake.log.begin());
    EXPECT_LT(wait - fake.log.begin(), index(Op::GetExitCodeProcess));
}

INSTANTIATE_TEST_SUITE_P(Variants, RunRecords,
                         ::testing::Values(RecordCase{"plain", false, false},
                                           RecordCase{"internet", true, false},
                                           RecordCase{"working_dir", false, true},
                                           RecordCase{"both", true, true}),
                         [](const auto& tested) { return std::string(tested.param.name); });

struct HandleListCase {
    const char* name;
    StdioMode mode;                  // all three streams
    std::array<Handle, 3> helper;    // the helper's own standard handles
    std::vector<int> listed;         // the streams (0 stdin, 1 stdout, 2 stderr) whose handles are listed
};

void PrintTo(const HandleListCase& c, std::ostream* out) { *out << c.name; }

class HandleList : public ::testing::TestWithParam<HandleListCase> {};

TEST_P(HandleList, ChildInheritsExactlyItsStreamHandles) {
    const HandleListCase& c = GetParam();
    FakePlatform fake;
    set_up_machine(fake);
    fake.std_handles = c.helper;
    HelperRequest request = full_request();
    request.stdin_mode = request.stdout_mode = request.stderr_mode = c.mode;
    auto result = run_sandboxed(fake, std::move(request));
    ASSERT_TRUE(result.ok()) << message_of(result.error());

    const test::RecordedCreateProcess& p = *fake.created_process;
    const StartupInfo& si = p.startup_info.startup_info;
    const Handle streams[] = {si.std_input, si.std_output, si.std_error};
    if (c.mode == StdioMode::Inherit) {
        EXPECT_EQ(std::vector<Handle>(streams, streams + 3),
                  std::vector<Handle>(c.helper.begin(), c.helper.end()));
    }
    if (c.listed.empty()) {
        EXPECT_FALSE(p.inherit_handles);
        EXPECT_FALSE(p.handle_list.has_value());
        EXPECT_EQ(p.attributes, (std::vector<std::uintptr_t>{0x00020009}));
    } else {
        std::vector<Handle> expected;
        for (const int stream : c.listed) expected.push_back(streams[stream]);
        EXPECT_TRUE(p.inherit_handles);
        EXPECT_EQ(p.handle_list, expected);
        EXPECT_EQ(p.attributes, (std::vector<std::uintptr_t>{0x00020009, 0x00020002}));
    }
    // Sized and initialised for exactly the attributes it carries.
    EXPECT_EQ(p.attribute_count, p.attributes.size());
    const std::string count = std::to_string(p.attributes.size());
    EXPECT_EQ(fake.calls(Op::InitializeProcThreadAttributeList), 2);
    EXPECT_NE(std::find(fake.log.begin(), fake.log.end(), "InitializeProcThreadAttributeList sizing " + count),
              fake.log.end());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, HandleList,
    ::testing::Values(
        HandleListCase{"three_distinct", StdioMode::Inherit, {0x10, 0x14, 0x18}, {0, 1, 2}},
        HandleListCase{"stdout_and_stderr_shared", StdioMode::Piped, {0x10, 0x14, 0x14}, {0, 1}},
        HandleListCase{"all_shared", StdioMode::Inherit, {0x18, 0x18, 0x18}, {0}},
        // The NUL handles opened for the child are real handles and are listed.
        HandleListCase{"all_null", StdioMode::Null, {0x10, 0x14, 0x18}, {0, 1, 2}},
        HandleListCase{"helper_without_handles", StdioMode::Inherit, {0, INVALID_HANDLE, 0}, {}}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(RunSandboxed, FailingHandleListUpdateEndsTheRunAndReleasesInOrder) {
    FakePlatform fake;
    set_up_machine(fake);
    fake.fail(Op::UpdateProcThreadAttribute, 2, 87);
    auto result = run_sandboxed(fake, full_request());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(std::get<SandboxError>(result.error()),
              SandboxError{sandbox_error::UpdateProcThreadAttribute{87}});
    ASSERT_TRUE(fake.failed_at.has_value());
    EXPECT_EQ(fake.log[*fake.failed_at], "UpdateProcThreadAttribute 0x20002");
    // Never a fallback to inheriting everything: no child at all.
    EXPECT_EQ(fake.calls(Op::CreateProcessW), 0);
    const std::vector<std::string> after(fake.log.begin() + static_cast<std::ptrdiff_t>(*fake.failed_at) + 1,
                                         fake.log.end());
    EXPECT_EQ(after, (std::vector<std::string>{"DeleteProcThreadAttributeList", "CloseHandle nul:1",
                                               "CloseHandle nul:2", "CloseHandle job", "FreeSid sid:1"}));
}

TEST(RunSandboxed, PassesEveryExitCodeThroughUnchanged) {
    for (std::uint32_t code : {0u, 1u, 64u, 65u, 66u, 259u, 0xC0000005u, 0xFFFFFFFFu}) {
        FakePlatform fake;
        set_up_machine(fake);
        fake.child_exit_code = code;
        auto result = run_sandboxed(fake, full_request());
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.value(), code);
    }
}

TEST(RunSandboxed, AStreamWithoutHandleIsPassedOnAndNeverClosed) {
    FakePlatform fake;
    set_up_machine(fake);
    fake.std_handles = {NO_HANDLE, INVALID_HANDLE, 0x18};
    HelperRequest request = full_request();
    request.stdin_mode = StdioMode::Inherit;
    request.stdout_mode = StdioMode::Piped;
    auto result = run_sandboxed(fake, std::move(request));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(fake.created_process->startup_info.startup_info.std_input, 0u);
    EXPECT_EQ(fake.created_process->startup_info.startup_info.std_output, INVALID_HANDLE);
}

}  // namespace
}  // namespace zub
