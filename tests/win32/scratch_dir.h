#pragma once
// Test support for the Win32 backend tests under Wine: a scratch directory
// removed at the end, file creation, and reaching the Unix side of Wine.
#include <windows.h>

#include <string>

namespace zub::win32_test {

inline const char16_t* u16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }
inline std::u16string u16(const std::wstring& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// Removes a tree; entries with the reparse bit are unlinked, never entered.
inline void remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            const bool is_dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const bool is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (is_dir && !is_link) {
                remove_tree(child);
            } else if (!DeleteFileW(child.c_str())) {
                RemoveDirectoryW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

// A fresh directory under the temporary directory, removed with everything in it.
class ScratchDir {
public:
    ScratchDir() {
        wchar_t temp[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        static unsigned counter = 0;
        path_ = std::wstring(temp, length) + L"zub-win32-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(++counter);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchDir() { remove_tree(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring join(const std::wstring& name) const { return path_ + L"\\" + name; }

    bool make_dir(const std::wstring& name) const {
        return CreateDirectoryW(join(name).c_str(), nullptr) != 0;
    }
    bool make_file(const std::wstring& name, const std::string& content = "x") const {
        const HANDLE file = CreateFileW(join(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        const BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()),
                                  &written, nullptr);
        CloseHandle(file);
        return ok && written == content.size();
    }

private:
    std::wstring path_;
};

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
