#include "helper_appcontainer/run_sandboxed.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child/child_stdio.h"
#include "child/command_line.h"
#include "child/env_block.h"
#include "platform/owned.h"
#include "sandbox/container_capabilities.h"
#include "sandbox/container_profile.h"
#include "sandbox/grant_lock.h"
#include "sandbox/grants.h"

namespace zub {
namespace {

constexpr std::uint32_t JOB_OBJECT_EXTENDED_LIMIT_INFORMATION_CLASS = 9;
constexpr std::uint32_t KILL_ON_JOB_CLOSE_LIMIT = 0x00002000;
constexpr std::uint32_t STARTF_USESTDHANDLES_FLAG = 0x00000100;
// EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED
constexpr std::uint32_t CHILD_CREATION_FLAGS = 0x00080604;
constexpr std::uint32_t INFINITE_WAIT = 0xFFFFFFFF;
constexpr std::uint32_t RESUME_FAILED = 0xFFFFFFFF;
// The exit code of a suspended child that could not be confined and is ended instead.
constexpr std::uint32_t UNCONFINED_CHILD_EXIT_CODE = 1;

using RunResult = Result<std::uint32_t, RunFailure>;

RunResult failed(SandboxError error) { return RunFailure{std::move(error)}; }

// Every root of the three lists, in order; the first failure ends the grants.
Status<SandboxError> grant_all(Platform& platform, const HelperRequest& request, Sid sid) {
    struct GrantList {
        const std::vector<OsString>& roots;
        std::uint32_t access_mask;
        bool best_effort;
    };
    const GrantList grant_lists[] = {
        {request.readable_dirs, ALLOW_SET_READ_ACCESS, false},
        {request.writable_dirs, ALLOW_SET_WRITE_ACCESS, false},
        {request.readable_dirs_best_effort, ALLOW_SET_READ_ACCESS, true},
    };
    const bool any_root = std::any_of(std::begin(grant_lists), std::end(grant_lists),
                                      [](const GrantList& list) { return !list.roots.empty(); });
    if (!any_root) return Ok{};
    // Held until the last root's walk ends, on every path out of here.
    const HeldGrantLock lock = take_grant_lock(platform);
    for (const GrantList& list : grant_lists) {
        for (const OsString& root : list.roots) {
            auto granted = grant_allow_set_root(platform, platform, root, sid, list.access_mask,
                                                list.best_effort);
            if (!granted) return std::move(granted).error();
        }
    }
    return Ok{};
}

// An unnamed job that ends everything in it when its last handle closes.
Result<UniqueHandle, SandboxError> create_kill_on_close_job(Platform& platform) {
    const HandleResult created = platform.create_job_object_w();
    if (created.handle == NO_HANDLE) return SandboxError{sandbox_error::CreateJobObjectW{created.error}};
    UniqueHandle job(platform, created.handle);
    JobExtendedLimitInformation limits{};
    limits.basic_limit_information.limit_flags = KILL_ON_JOB_CLOSE_LIMIT;
    const BoolResult limited = platform.set_information_job_object(
        job.get(), JOB_OBJECT_EXTENDED_LIMIT_INFORMATION_CLASS, &limits, sizeof limits);
    if (!limited.ok) return SandboxError{sandbox_error::SetInformationJobObject{limited.error}};
    return job;
}

// Sizes, initialises and fills the launch attribute list: the security
// capabilities always, the handle list only when the child inherits anything.
// The list refers to both values without copying them.
Result<AttributeList, SandboxError> build_attribute_list(Processes& processes,
                                                         SecurityCapabilities* security_capabilities,
                                                         const std::vector<Handle>& inherited) {
    const std::uint32_t count = inherited.empty() ? 1 : 2;
    std::size_t list_size = 0;
    const BoolResult sizing =
        processes.initialize_proc_thread_attribute_list(nullptr, count, 0, &list_size);
    if (list_size == 0) {
        return SandboxError{sandbox_error::InitializeProcThreadAttributeList{sizing.error}};
    }
    // Freed without the system's delete until it is initialised.
    auto buffer = std::make_unique<std::uint64_t[]>((list_size + 7) / 8);
    const BoolResult initialized =
        processes.initialize_proc_thread_attribute_list(buffer.get(), count, 0, &list_size);
    if (!initialized.ok) {
        return SandboxError{sandbox_error::InitializeProcThreadAttributeList{initialized.error}};
    }
    AttributeList list(processes, buffer.release());
    BoolResult updated = processes.update_proc_thread_attribute(
        list.get(), 0, SECURITY_CAPABILITIES_ATTRIBUTE, security_capabilities,
        sizeof(SecurityCapabilities));
    if (updated.ok && !inherited.empty()) {
        // The system only reads the array; its declaration lacks the const.
        updated = processes.update_proc_thread_attribute(
            list.get(), 0, HANDLE_LIST_ATTRIBUTE, const_cast<Handle*>(inherited.data()),
            inherited.size() * sizeof(Handle));
    }
    // Either attribute's failure is reported as the one kind the parent knows.
    if (!updated.ok) return SandboxError{sandbox_error::UpdateProcThreadAttribute{updated.error}};
    return list;
}

// The child's process and thread handles; the thread is released first.
struct ChildProcess {
    UniqueHandle process;
    UniqueHandle thread;
};

struct ChildLaunch {
    std::u16string& command_line;  // writable: the system may change it
    const std::u16string& environment;
    const std::optional<std::u16string>& working_dir;
    const ChildStdio& stdio;
    void* attribute_list;
    bool inherit_handles;
};

Result<ChildProcess, SandboxError> create_suspended_child(Platform& platform, const ChildLaunch& launch,
                                                          OsString& program) {
    StartupInfoEx startup_info{};
    startup_info.startup_info.cb = sizeof(StartupInfoEx);
    startup_info.startup_info.flags = STARTF_USESTDHANDLES_FLAG;
    startup_info.startup_info.std_input = launch.stdio.stdin_handle;
    startup_info.startup_info.std_output = launch.stdio.stdout_handle;
    startup_info.startup_info.std_error = launch.stdio.stderr_handle;
    startup_info.attribute_list = launch.attribute_list;
    ProcessInformation created_child{};
    const BoolResult created = platform.create_process_w(
        launch.command_line.data(), launch.inherit_handles, CHILD_CREATION_FLAGS,
        launch.environment.c_str(), launch.working_dir ? launch.working_dir->c_str() : nullptr,
        &startup_info, &created_child);
    if (!created.ok) return SandboxError{sandbox_error::CreateProcessW{std::move(program), created.error}};
    return ChildProcess{UniqueHandle(platform, created_child.process),
                        UniqueHandle(platform, created_child.thread)};
}

// Into the job while still suspended, then let it run.
Status<SandboxError> confine_and_start(Processes& processes, Handle job, const ChildProcess& child) {
    const BoolResult assigned = processes.assign_process_to_job_object(job, child.process.get());
    if (!assigned.ok) {
        // Outside the job nothing would ever end the suspended child.
        processes.terminate_process(child.process.get(), UNCONFINED_CHILD_EXIT_CODE);
        return SandboxError{sandbox_error::AssignProcessToJobObject{assigned.error}};
    }
    std::uint32_t resume_error = 0;
    if (processes.resume_thread(child.thread.get(), &resume_error) == RESUME_FAILED) {
        return SandboxError{sandbox_error::AssignProcessToJobObject{resume_error}};
    }
    return Ok{};
}

// Only the child itself is waited for; what it started ends with the job.
Result<std::uint32_t, SandboxError> wait_for_exit_code(Processes& processes, const ChildProcess& child) {
    const std::uint32_t waited = processes.wait_for_single_object(child.process.get(), INFINITE_WAIT);
    if (waited != WAIT_OBJECT_0_RESULT) return SandboxError{sandbox_error::WaitForSingleObject{waited}};
    std::uint32_t exit_code = 0;
    const BoolResult read = processes.get_exit_code_process(child.process.get(), &exit_code);
    if (!read.ok) return SandboxError{sandbox_error::GetExitCodeProcess{read.error}};
    return exit_code;
}

}  // namespace

RunResult run_sandboxed(Platform& platform, HelperRequest request) {
    // Every owner below is declared in acquisition order, so leaving this
    // function on any path releases in exactly the reverse order.
    auto container_sid = ensure_container_profile(platform, request.appcontainer_name);
    if (!container_sid) return failed(std::move(container_sid.error()));
    const Sid sid = container_sid.value().get();

    if (auto granted = grant_all(platform, request, sid); !granted) return failed(std::move(granted.error()));

    auto capabilities = build_container_capabilities(platform, sid, request.grant_internet_client);
    if (!capabilities) return failed(std::move(capabilities.error()));
    // The attribute list refers to this record; it lives until the run ends.
    SecurityCapabilities security_capabilities = capabilities.value().security_capabilities();

    auto job = create_kill_on_close_job(platform);
    if (!job) return failed(std::move(job.error()));

    auto stdio = build_child_stdio(platform, request.stdin_mode, request.stdout_mode,
                                   request.stderr_mode);
    if (!stdio) return std::move(stdio).error();

    // The child receives exactly its standard handles, never every inheritable
    // handle of the helper: the helper may hold its parent's pipes and files.
    // The list names these handles, so it is built after them and deleted before
    // they are closed; it refers to the array, which outlives it.
    const std::vector<Handle> inherited = stdio.value().handles_to_inherit();
    auto attribute_list = build_attribute_list(platform, &security_capabilities, inherited);
    if (!attribute_list) return failed(std::move(attribute_list.error()));

    std::u16string command_line = build_command_line(request.program, request.args);
    auto environment = build_env_block(platform, request.env, request.env_clear);
    if (!environment) return RunFailure{std::move(environment.error())};
    std::optional<std::u16string> working_dir;
    if (request.working_dir) working_dir = to_wide_nul(*request.working_dir);

    // Without a handle to pass on, the child inherits nothing at all.
    const ChildLaunch launch{command_line,  environment.value(),
                             working_dir,   stdio.value(),
                             attribute_list.value().get(), !inherited.empty()};
    auto child = create_suspended_child(platform, launch, request.program);
    if (!child) return failed(std::move(child.error()));

    if (auto started = confine_and_start(platform, job.value().get(), child.value()); !started) {
        return failed(std::move(started.error()));
    }
    auto exit_code = wait_for_exit_code(platform, child.value());
    if (!exit_code) return failed(std::move(exit_code.error()));
    return exit_code.value();
}

}  // namespace zub
