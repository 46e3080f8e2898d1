// Files by path, and handles.
#include <windows.h>

#include <cstddef>

#include "platform/win32_cast.h"
#include "platform/win32_long_path.h"
#include "platform/win32_platform.h"

namespace zub {
namespace {

static_assert(sizeof(SecurityAttributes) == sizeof(SECURITY_ATTRIBUTES));
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24);
static_assert(offsetof(SecurityAttributes, length) == offsetof(SECURITY_ATTRIBUTES, nLength));
static_assert(offsetof(SecurityAttributes, security_descriptor) ==
              offsetof(SECURITY_ATTRIBUTES, lpSecurityDescriptor));
static_assert(offsetof(SecurityAttributes, inherit_handle) ==
              offsetof(SECURITY_ATTRIBUTES, bInheritHandle));

}  // namespace

BoolResult Win32Platform::set_handle_information(Handle handle, std::uint32_t mask,
                                                 std::uint32_t flags) {
    return win32::bool_result(SetHandleInformation(win32::to_win(handle), mask, flags));
}

HandleResult Win32Platform::create_file_w(const char16_t* name, std::uint32_t access,
                                          std::uint32_t share_mode,
                                          const SecurityAttributes* security_attributes,
                                          std::uint32_t creation_disposition,
                                          std::uint32_t flags_and_attributes) {
    // The system only reads the attributes; its declaration lacks the const.
    auto* attributes = reinterpret_cast<LPSECURITY_ATTRIBUTES>(
        const_cast<SecurityAttributes*>(security_attributes));
    DWORD error = ERROR_SUCCESS;
    const HANDLE file = win32::open_by_path(
        win32::wide(name),
        [&](const wchar_t* path) {
            return CreateFileW(path, access, share_mode, attributes, creation_disposition,
                               flags_and_attributes, nullptr);
        },
        error);
    if (file == INVALID_HANDLE_VALUE) return {INVALID_HANDLE, static_cast<std::uint32_t>(error)};
    return {win32::from_win(file), 0};
}

bool Win32Platform::close_handle(Handle handle) { return CloseHandle(win32::to_win(handle)) != 0; }

}  // namespace zub
