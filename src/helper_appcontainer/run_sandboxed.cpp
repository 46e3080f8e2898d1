#include "helper_appcontainer/run_sandboxed.h"

#include <optional>
#include <string>
#include <vector>

#include "child/child_stdio.h"
#include "child/command_line.h"
#include "child/env_block.h"
#include "helper_appcontainer/run_resources.h"
#include "sandbox/container_capabilities.h"
#include "sandbox/container_profile.h"
#include "sandbox/grants.h"

namespace zub {
namespace {

constexpr std::uint32_t JOB_OBJECT_EXTENDED_LIMIT_INFORMATION_CLASS = 9;
constexpr std::uint32_t JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE = 0x00002000;
constexpr std::uint32_t STARTF_USESTDHANDLES_FLAG = 0x00000100;
// EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED
constexpr std::uint32_t CHILD_CREATION_FLAGS = 0x00080604;
constexpr std::uint32_t INFINITE_WAIT = 0xFFFFFFFF;
constexpr std::uint32_t RESUME_FAILED = 0xFFFFFFFF;
constexpr std::uint32_t WAIT_OBJECT_0_RESULT = 0;
// The exit code of a suspended child that could not be confined and is ended instead.
constexpr std::uint32_t UNCONFINED_CHILD_EXIT_CODE = 1;

using RunResult = Result<std::uint32_t, RunFailure>;

RunResult failed(SandboxError error) { return RunFailure{std::move(error)}; }

Status<SandboxError> grant_list(Platform& platform, const std::vector<OsString>& roots, Sid sid,
                                std::uint32_t access_mask, bool best_effort) {
    for (const OsString& root : roots) {
        auto granted = grant_allow_set_root(platform, root, sid, access_mask, best_effort);
        if (!granted) return std::move(granted).error();
    }
    return Ok{};
}

// Sizes, initialises and fills the launch attribute list: the security
// capabilities always, the handle list only when the child inherits anything.
// The list refers to both values without copying them.
Status<SandboxError> fill_attribute_list(Platform& platform, AttributeList& attribute_list,
                                         SecurityCapabilities* security_capabilities,
                                         const std::vector<Handle>& inherited) {
    const std::uint32_t count = inherited.empty() ? 1 : 2;
    std::size_t list_size = 0;
    const BoolResult sizing =
        platform.initialize_proc_thread_attribute_list(nullptr, count, 0, &list_size);
    if (list_size == 0) {
        return SandboxError{sandbox_error::InitializeProcThreadAttributeList{sizing.error}};
    }
    void* list = attribute_list.allocate(list_size);
    const BoolResult initialized =
        platform.initialize_proc_thread_attribute_list(list, count, 0, &list_size);
    if (!initialized.ok) {
        return SandboxError{sandbox_error::InitializeProcThreadAttributeList{initialized.error}};
    }
    attribute_list.mark_initialized();
    BoolResult updated = platform.update_proc_thread_attribute(
        list, 0, SECURITY_CAPABILITIES_ATTRIBUTE, security_capabilities,
        sizeof(SecurityCapabilities));
    if (updated.ok && !inherited.empty()) {
        // The system only reads the array; its declaration lacks the const.
        updated = platform.update_proc_thread_attribute(
            list, 0, HANDLE_LIST_ATTRIBUTE, const_cast<Handle*>(inherited.data()),
            inherited.size() * sizeof(Handle));
    }
    // Either attribute's failure is reported as the one kind the parent knows.
    if (!updated.ok) return SandboxError{sandbox_error::UpdateProcThreadAttribute{updated.error}};
    return Ok{};
}

}  // namespace

RunResult run_sandboxed(Platform& platform, HelperRequest request) {
    // Every owner below is declared in acquisition order, so leaving this
    // function on any path releases in exactly the reverse order.
    auto container_sid = ensure_container_profile(platform, request.appcontainer_name);
    if (!container_sid) return failed(std::move(container_sid.error()));
    const Sid sid = container_sid.value().get();

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
    for (const GrantList& list : grant_lists) {
        auto granted = grant_list(platform, list.roots, sid, list.access_mask, list.best_effort);
        if (!granted) return failed(std::move(granted.error()));
    }

    auto capabilities = build_container_capabilities(platform, sid, request.grant_internet_client);
    if (!capabilities) return failed(std::move(capabilities.error()));
    // The attribute list refers to this record; it lives until the run ends.
    SecurityCapabilities security_capabilities = capabilities.value().security_capabilities();

    const HandleResult created_job = platform.create_job_object_w();
    if (created_job.handle == NO_HANDLE) {
        return failed(sandbox_error::CreateJobObjectW{created_job.error});
    }
    const OwnedHandle job(platform, created_job.handle);
    JobExtendedLimitInformation limits{};
    limits.basic_limit_information.limit_flags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    const BoolResult limited = platform.set_information_job_object(
        job.get(), JOB_OBJECT_EXTENDED_LIMIT_INFORMATION_CLASS, &limits, sizeof limits);
    if (!limited.ok) return failed(sandbox_error::SetInformationJobObject{limited.error});

    auto stdio = build_child_stdio(platform, request.stdin_mode, request.stdout_mode,
                                   request.stderr_mode);
    if (!stdio) return std::move(stdio).error();

    // The child receives exactly its standard handles, never every inheritable
    // handle of the helper: the helper may hold its parent's pipes and files.
    // The list names these handles, so it is built after them and deleted before
    // they are closed; it refers to the array, which outlives it.
    const std::vector<Handle> inherited = stdio.value().handles_to_inherit();
    AttributeList attribute_list(platform);
    auto attributes =
        fill_attribute_list(platform, attribute_list, &security_capabilities, inherited);
    if (!attributes) return failed(std::move(attributes.error()));

    std::u16string command_line = build_command_line(request.program, request.args);
    auto environment = build_env_block(platform, request.env, request.env_clear);
    if (!environment) return RunFailure{std::move(environment.error())};
    std::optional<std::u16string> working_dir;
    if (request.working_dir) working_dir = to_wide_nul(*request.working_dir);

    StartupInfoEx startup_info{};
    startup_info.startup_info.cb = sizeof(StartupInfoEx);
    startup_info.startup_info.flags = STARTF_USESTDHANDLES_FLAG;
    startup_info.startup_info.std_input = stdio.value().stdin_handle;
    startup_info.startup_info.std_output = stdio.value().stdout_handle;
    startup_info.startup_info.std_error = stdio.value().stderr_handle;
    startup_info.attribute_list = attribute_list.get();
    ProcessInformation process_information{};
    // Without a handle to pass on, the child inherits nothing at all.
    const BoolResult created = platform.create_process_w(
        command_line.data(), !inherited.empty(), CHILD_CREATION_FLAGS, environment.value().c_str(),
        working_dir ? working_dir->c_str() : nullptr, &startup_info, &process_information);
    if (!created.ok) {
        return failed(sandbox_error::CreateProcessW{std::move(request.program), created.error});
    }
    const ProcessHandles child(platform, process_information);

    const BoolResult assigned = platform.assign_process_to_job_object(job.get(), child.process());
    if (!assigned.ok) {
        // Outside the job nothing would ever end the suspended child.
        platform.terminate_process(child.process(), UNCONFINED_CHILD_EXIT_CODE);
        return failed(sandbox_error::AssignProcessToJobObject{assigned.error});
    }
    std::uint32_t resume_error = 0;
    if (platform.resume_thread(child.thread(), &resume_error) == RESUME_FAILED) {
        return failed(sandbox_error::AssignProcessToJobObject{resume_error});
    }

    const std::uint32_t waited = platform.wait_for_single_object(child.process(), INFINITE_WAIT);
    if (waited != WAIT_OBJECT_0_RESULT) return failed(sandbox_error::WaitForSingleObject{waited});
    std::uint32_t exit_code = 0;
    const BoolResult read = platform.get_exit_code_process(child.process(), &exit_code);
    if (!read.ok) return failed(sandbox_error::GetExitCodeProcess{read.error});
    return exit_code;
}

}  // namespace zub
