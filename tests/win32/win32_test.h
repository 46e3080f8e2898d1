#pragma once
// Test support for the Win32 backend tests under Wine: UTF-16 views of wide
// strings, and reaching the Unix side of Wine.
#include <windows.h>

#include <string>

namespace zub::win32_test {

inline const char16_t* u16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }
inline std::u16string u16(const std::wstring& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// Wine's own entry points, present only when running under Wine.
using GetUnixFileName = char*(__cdecl*)(const wchar_t*);
using UnixSpawn = int(__cdecl*)(char* const argv[], int wait);

inline std::string unix_path_of(const std::wstring& path) {
    auto* get = reinterpret_cast<GetUnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (get == nullptr) return {};
    char* unix_path = get(path.c_str());
    if (unix_path == nullptr) return {};
    std::string result = unix_path;
    HeapFree(GetProcessHeap(), 0, unix_path);
    return result;
}

// Runs a Unix program (absolute path) to its end; false when that cannot be done.
// The strings are copies on purpose: the spawn call takes writable argv strings.
// cppcheck-suppress passedByValue
inline bool run_unix(std::string program, std::string arg1, std::string arg2, std::string arg3) {
    auto* spawn = reinterpret_cast<UnixSpawn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    if (spawn == nullptr) return false;
    char* argv[] = {program.data(), arg1.data(), arg2.data(), arg3.data(), nullptr};
    return spawn(argv, 1) == 0;
}

}  // namespace zub::win32_test
