#pragma once
// Conversions between the portable types of the platform interface and the
// Win32 types. Private to the Win32 backend.
#include <windows.h>

#include <cstdint>

#include "platform/platform.h"
#include "platform/records.h"

namespace zub::win32 {

// OS strings are UTF-16 units; on Windows wchar_t is one such unit.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(Handle) == sizeof(HANDLE));

inline const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const char16_t* units(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

inline HANDLE to_win(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
inline Handle from_win(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

// A truth-value call's result, with GetLastError read at once on failure.
inline BoolResult bool_result(BOOL ok) {
    if (ok) return {true, 0};
    return {false, static_cast<std::uint32_t>(GetLastError())};
}

}  // namespace zub::win32
