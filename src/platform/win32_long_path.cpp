// The extended-length form of a path too long for the Win32 path rules.
#include "platform/win32_long_path.h"

#include <string_view>

namespace zub::win32 {
namespace {

bool is_separator(wchar_t unit) { return unit == L'\\' || unit == L'/'; }

// "\\.\" and "\\?\" (either separator) and "\??\": forms the Win32 rules
// leave to the system as they are, or that are extended already.
bool is_device_or_extended(std::wstring_view path) {
    if (path.size() < 4) return false;
    if (path.substr(0, 4) == LR"(\??\)") return true;
    return is_separator(path[0]) && is_separator(path[1]) && (path[2] == L'.' || path[2] == L'?') &&
           is_separator(path[3]);
}

// "X:\" or "\\server\share" (either separator): a path whose full form does
// not depend on the current directory. A relative one ("dir", "\dir",
// "X:dir") is made full from the current directory's string, while
// CreateFileW opens a plain relative name through the current directory's
// handle, which still names that directory once it is renamed or moved: the
// retry could open another object than the first attempt meant.
bool is_absolute(std::wstring_view path) {
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) return true;
    const bool drive_letter = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') ||
                                                   (path[0] >= L'a' && path[0] <= L'z'));
    return drive_letter && path[1] == L':' && is_separator(path[2]);
}

}  // namespace

std::optional<std::wstring> extended_length_path(const wchar_t* path) {
    if (is_device_or_extended(path) || !is_absolute(path)) return std::nullopt;
    // The first call gives the size with the NUL, the second the length without it.
    const DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (size == 0) return std::nullopt;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path, size, full.data(), nullptr);
    if (length == 0 || length >= size) return std::nullopt;
    full.resize(length);
    // With its NUL it fits in MAX_PATH: its length was not what failed.
    if (full.size() < MAX_PATH || is_device_or_extended(full)) return std::nullopt;
    // A full path that starts with two separators is a UNC path: \\server\share\...
    if (full.rfind(LR"(\\)", 0) == 0) return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

}  // namespace zub::win32
