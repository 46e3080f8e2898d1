#pragma once
// Everything that can fail while the sandbox is set up and the child runs.
// Each variant is named after the system call whose failure it reports.
#include <cstdint>
#include <string>
#include <variant>

#include "base/os_string.h"

namespace zub {

namespace sandbox_error {
struct CreateAppContainerProfile {
    std::string name;
    std::uint32_t hresult;
    bool operator==(const CreateAppContainerProfile&) const = default;
};
struct DeriveAppContainerSidFromAppContainerName {
    std::string name;
    std::uint32_t hresult;
    bool operator==(const DeriveAppContainerSidFromAppContainerName&) const = default;
};
struct CreateWellKnownSid {
    std::uint32_t code;
    bool operator==(const CreateWellKnownSid&) const = default;
};
struct GetNamedSecurityInfoW {
    OsString path;
    std::uint32_t code;
    bool operator==(const GetNamedSecurityInfoW&) const = default;
};
struct SetEntriesInAclW {
    OsString path;
    std::uint32_t code;
    bool operator==(const SetEntriesInAclW&) const = default;
};
struct SetNamedSecurityInfoW {
    OsString path;
    std::uint32_t code;
    bool operator==(const SetNamedSecurityInfoW&) const = default;
};
struct ReparsePoint {
    OsString path;
    bool operator==(const ReparsePoint&) const = default;
};
struct InitializeProcThreadAttributeList {
    std::uint32_t code;
    bool operator==(const InitializeProcThreadAttributeList&) const = default;
};
struct UpdateProcThreadAttribute {
    std::uint32_t code;
    bool operator==(const UpdateProcThreadAttribute&) const = default;
};
struct CreateJobObjectW {
    std::uint32_t code;
    bool operator==(const CreateJobObjectW&) const = default;
};
struct SetInformationJobObject {
    std::uint32_t code;
    bool operator==(const SetInformationJobObject&) const = default;
};
struct CreateProcessW {
    OsString program;
    std::uint32_t code;
    bool operator==(const CreateProcessW&) const = default;
};
struct AssignProcessToJobObject {
    std::uint32_t code;
    bool operator==(const AssignProcessToJobObject&) const = default;
};
struct CreateFileW {
    std::string role;  // "stdin", "stdout" or "stderr"
    std::uint32_t code;
    bool operator==(const CreateFileW&) const = default;
};
struct WaitForSingleObject {
    std::uint32_t value;  // the wait function's own return value
    bool operator==(const WaitForSingleObject&) const = default;
};
struct GetExitCodeProcess {
    std::uint32_t code;
    bool operator==(const GetExitCodeProcess&) const = default;
};
}  // namespace sandbox_error

using SandboxError = std::variant<
    sandbox_error::CreateAppContainerProfile,
    sandbox_error::DeriveAppContainerSidFromAppContainerName, sandbox_error::CreateWellKnownSid,
    sandbox_error::GetNamedSecurityInfoW, sandbox_error::SetEntriesInAclW,
    sandbox_error::SetNamedSecurityInfoW, sandbox_error::ReparsePoint,
    sandbox_error::InitializeProcThreadAttributeList, sandbox_error::UpdateProcThreadAttribute,
    sandbox_error::CreateJobObjectW, sandbox_error::SetInformationJobObject,
    sandbox_error::CreateProcessW, sandbox_error::AssignProcessToJobObject,
    sandbox_error::CreateFileW, sandbox_error::WaitForSingleObject,
    sandbox_error::GetExitCodeProcess>;

// The message, without prefix and without line end.
std::string render(const SandboxError& error);

}  // namespace zub
