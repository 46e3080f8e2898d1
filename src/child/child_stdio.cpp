#include "child/child_stdio.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "base/os_string.h"

namespace zub {
namespace {

constexpr std::uint32_t FILE_SHARE_READ_BIT = 1;
constexpr std::uint32_t SECURITY_ATTRIBUTES_SIZE = 24;

// The standard-handle id of a role; nothing for a role that cannot exist.
std::optional<std::uint32_t> std_handle_id(std::string_view role) {
    if (role == "stdin") return STD_INPUT_HANDLE_ID;
    if (role == "stdout") return STD_OUTPUT_HANDLE_ID;
    if (role == "stderr") return STD_ERROR_HANDLE_ID;
    return std::nullopt;
}

// Passes the helper's own handle on; a missing one (0 or -1) is passed on as it is.
Handle inherit_std_handle(Files& files, std::uint32_t id) {
    const Handle handle = files.get_std_handle(id);
    if (is_closable_handle(handle)) {
        // Without the flag the child would not receive it; a failure here shows
        // up in the child, not as a failure of ours.
        (void)files.set_handle_information(handle, HANDLE_FLAG_INHERIT_BIT,
                                              HANDLE_FLAG_INHERIT_BIT);
    }
    return handle;
}

Result<Handle, RunFailure> open_nul(Files& files, std::string_view role,
                                    std::vector<Handle>& owned_handles) {
    std::u16string device = to_utf16("NUL");
    device.push_back(u'\0');
    const SecurityAttributes inheritable{SECURITY_ATTRIBUTES_SIZE, nullptr, 1};
    const bool input = role == "stdin";
    const HandleResult opened = files.create_file_w(
        device.data(), input ? NUL_READ_ACCESS : NUL_WRITE_ACCESS,
        input ? FILE_SHARE_READ_BIT : FILE_SHARE_ALL, &inheritable, OPEN_EXISTING_DISPOSITION, 0);
    if (opened.handle == INVALID_HANDLE) {
        return RunFailure{SandboxError{sandbox_error::CreateFileW{std::string(role), opened.error}}};
    }
    owned_handles.push_back(opened.handle);
    return opened.handle;
}

}  // namespace

ChildStdio::ChildStdio(ChildStdio&& other) noexcept
    : owned_handles(std::move(other.owned_handles)),
      stdin_handle(other.stdin_handle),
      stdout_handle(other.stdout_handle),
      stderr_handle(other.stderr_handle),
      files_(other.files_) {
    other.owned_handles.clear();
}

ChildStdio::~ChildStdio() {
    for (const Handle handle : owned_handles) {
        if (is_closable_handle(handle)) files_->close_handle(handle);
    }
}

std::vector<Handle> ChildStdio::handles_to_inherit() const {
    std::vector<Handle> handles;
    for (const Handle handle : {stdin_handle, stdout_handle, stderr_handle}) {
        // The system refuses a handle list that names a handle twice.
        if (is_closable_handle(handle) &&
            std::find(handles.begin(), handles.end(), handle) == handles.end()) {
            handles.push_back(handle);
        }
    }
    return handles;
}

Result<Handle, RunFailure> open_stdio_handle(Files& files, StdioMode mode,
                                             std::string_view role,
                                             std::vector<Handle>& owned_handles) {
    const std::optional<std::uint32_t> id = std_handle_id(role);
    if (!id) {
        return RunFailure{
            FatalStop{"internal error: entered unreachable code: role must be stdin/stdout/stderr"}};
    }
    switch (mode) {
        case StdioMode::Null: return open_nul(files, role, owned_handles);
        case StdioMode::Inherit:
        case StdioMode::Piped: break;  // no pipe of our own: the child shares the helper's stream
    }
    return inherit_std_handle(files, *id);
}

Result<ChildStdio, RunFailure> build_child_stdio(Files& files, StdioMode stdin_mode,
                                                 StdioMode stdout_mode, StdioMode stderr_mode) {
    // On an early return the destructor closes what was opened so far.
    ChildStdio stdio(files);
    const std::pair<StdioMode, std::string_view> streams[] = {
        {stdin_mode, "stdin"}, {stdout_mode, "stdout"}, {stderr_mode, "stderr"}};
    Handle* const targets[] = {&stdio.stdin_handle, &stdio.stdout_handle, &stdio.stderr_handle};
    for (std::size_t i = 0; i < 3; ++i) {
        Result<Handle, RunFailure> handle =
            open_stdio_handle(files, streams[i].first, streams[i].second, stdio.owned_handles);
        if (!handle) return std::move(handle).error();
        *targets[i] = handle.value();
    }
    return stdio;
}

}  // namespace zub
