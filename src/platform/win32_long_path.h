#pragma once
// Paths longer than the Win32 path rules in force allow (MAX_PATH, unless the
// system's long-path setting and the manifest lift it): opened again through
// their full, extended-length form. Private to the Win32 backend.
#include <windows.h>

#include <optional>
#include <string>

namespace zub::win32 {

// An absolute `path` ("X:\..." or "\\server\share\...") made full by the Win32
// rules (GetFullPathNameW: ".." and ".", trailing dots and spaces, "/" as
// "\"), behind "\\?\" ("\\?\UNC\" for a UNC path), so that the system takes it
// as it stands and it keeps the meaning it has for the Win32 rules. None for
// a relative path (its full form would come from the current directory's
// string, not from the handle an open uses), a path already in a device or
// extended form ("\\.\", "\\?\", "\??\"), one whose full form is short enough
// for those rules, or one that cannot be made full.
std::optional<std::wstring> extended_length_path(const wchar_t* path);

// The errors a call given a path reports when the path is too long for the
// Win32 rules: ERROR_PATH_NOT_FOUND past MAX_PATH, ERROR_FILENAME_EXCED_RANGE
// past what a counted string holds.
inline bool may_be_too_long(DWORD error) {
    return error == ERROR_PATH_NOT_FOUND || error == ERROR_FILENAME_EXCED_RANGE;
}

// `open(path)`, which gives INVALID_HANDLE_VALUE and sets the last error on
// failure; when that failure may be the path's length, `open` once more with
// the extended-length form. `error` is the last call's.
template <class Open>
HANDLE open_by_path(const wchar_t* path, Open open, DWORD& error) {
    const auto attempt = [&](const wchar_t* name) {
        const HANDLE opened = open(name);
        error = opened == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        return opened;
    };
    const HANDLE opened = attempt(path);
    if (opened != INVALID_HANDLE_VALUE || !may_be_too_long(error)) return opened;
    // Made full first: its own calls must not overwrite the error kept above.
    const std::optional<std::wstring> extended = extended_length_path(path);
    return extended ? attempt(extended->c_str()) : opened;
}

}  // namespace zub::win32
