#pragma once
// The child's three standard handles, and the NUL handles opened for it.
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "protocol/helper_request.h"
#include "base/result.h"
#include "protocol/run_failure.h"

namespace zub {

constexpr std::uint32_t NUL_READ_ACCESS = 0x00120089;   // FILE_GENERIC_READ
constexpr std::uint32_t NUL_WRITE_ACCESS = 0x00120116;  // FILE_GENERIC_WRITE
constexpr std::uint32_t HANDLE_FLAG_INHERIT_BIT = 1;

// Owns the handles it opened (closed first to last); the three stream values
// may be the helper's own handles, which are never closed here.
class ChildStdio {
public:
    explicit ChildStdio(Files& files) : files_(&files) {}
    ChildStdio(ChildStdio&& other) noexcept;
    ChildStdio& operator=(ChildStdio&&) = delete;
    ChildStdio(const ChildStdio&) = delete;
    ChildStdio& operator=(const ChildStdio&) = delete;
    ~ChildStdio();

    // The handles the child is to inherit: the distinct stream values that are
    // neither 0 nor -1, in stream order.
    std::vector<Handle> handles_to_inherit() const;

    std::vector<Handle> owned_handles;
    Handle stdin_handle = NO_HANDLE;
    Handle stdout_handle = NO_HANDLE;
    Handle stderr_handle = NO_HANDLE;

private:
    Files* files_;
};

Result<ChildStdio, RunFailure> build_child_stdio(Files& files, StdioMode stdin_mode,
                                                 StdioMode stdout_mode, StdioMode stderr_mode);

// One stream; `role` is "stdin", "stdout" or "stderr". Appends what it opens.
Result<Handle, RunFailure> open_stdio_handle(Files& files, StdioMode mode,
                                             std::string_view role,
                                             std::vector<Handle>& owned_handles);

}  // namespace zub
