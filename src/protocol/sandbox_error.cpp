#include "protocol/sandbox_error.h"

#include <type_traits>

#include "protocol/debug_form.h"

namespace zub {
namespace {

// "0x" and exactly eight upper-case hex digits, as HRESULTs and wait values are shown.
std::string hex8(std::uint32_t value) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string out = "0x00000000";
    for (std::size_t i = out.size(); i > 2; --i) {
        out[i - 1] = HEX[value & 0xF];
        value >>= 4;
    }
    return out;
}

std::string win32(std::uint32_t code) { return " failed with Win32 error " + std::to_string(code); }

std::string path_text(const OsString& path) { return to_utf8_lossy(path); }

}  // namespace

std::string render(const SandboxError& error) {
    using namespace sandbox_error;
    return std::visit(
        [](const auto& e) -> std::string {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, CreateAppContainerProfile>) {
                return "CreateAppContainerProfile(" + e.name + ") failed with HRESULT " + hex8(e.hresult);
            } else if constexpr (std::is_same_v<E, DeriveAppContainerSidFromAppContainerName>) {
                return "DeriveAppContainerSidFromAppContainerName(" + e.name +
                       ") failed with HRESULT " + hex8(e.hresult);
            } else if constexpr (std::is_same_v<E, CreateWellKnownSid>) {
                return "CreateWellKnownSid(InternetClient)" + win32(e.code);
            } else if constexpr (std::is_same_v<E, GetNamedSecurityInfoW>) {
                return "GetNamedSecurityInfoW(" + path_text(e.path) + ")" + win32(e.code);
            } else if constexpr (std::is_same_v<E, SetEntriesInAclW>) {
                return "SetEntriesInAclW(" + path_text(e.path) + ")" + win32(e.code);
            } else if constexpr (std::is_same_v<E, SetNamedSecurityInfoW>) {
                return "SetNamedSecurityInfoW(" + path_text(e.path) + ")" + win32(e.code);
            } else if constexpr (std::is_same_v<E, ReparsePoint>) {
                return "allow-set root " + path_text(e.path) +
                       " is a reparse point (symlink / junction / mount point); refusing to follow it "
                       "because the DACL grant would apply to the reparse-point target, potentially "
                       "outside the intended allow-set tree";
            } else if constexpr (std::is_same_v<E, InitializeProcThreadAttributeList>) {
                return "InitializeProcThreadAttributeList" + win32(e.code);
            } else if constexpr (std::is_same_v<E, UpdateProcThreadAttribute>) {
                return "UpdateProcThreadAttribute(SECURITY_CAPABILITIES)" + win32(e.code);
            } else if constexpr (std::is_same_v<E, CreateJobObjectW>) {
                return "CreateJobObjectW" + win32(e.code);
            } else if constexpr (std::is_same_v<E, SetInformationJobObject>) {
                return "SetInformationJobObject(KILL_ON_JOB_CLOSE)" + win32(e.code);
            } else if constexpr (std::is_same_v<E, CreateProcessW>) {
                return "CreateProcessW(" + debug_quoted(e.program) + ")" + win32(e.code);
            } else if constexpr (std::is_same_v<E, AssignProcessToJobObject>) {
                return "AssignProcessToJobObject" + win32(e.code);
            } else if constexpr (std::is_same_v<E, CreateFileW>) {
                return "CreateFileW(NUL, " + e.role + ")" + win32(e.code);
            } else if constexpr (std::is_same_v<E, WaitForSingleObject>) {
                return "WaitForSingleObject(child) returned unexpected value " + hex8(e.value);
            } else {
                static_assert(std::is_same_v<E, GetExitCodeProcess>);
                return "GetExitCodeProcess" + win32(e.code);
            }
        },
        error);
}

}  // namespace zub
