#pragma once
// Scratch directories for the tests that run against the real (Wine) system:
// a fresh directory under the temporary directory, removed with everything in
// it. A link inside is removed as a link and never entered, so that a test
// which plants one cannot make the clean-up delete what lies behind it.
#include <windows.h>

#include <atomic>
#include <string>

namespace zub::test_support {

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
                RemoveDirectoryW(child.c_str());  // a directory link
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<unsigned> counter{0};
        wchar_t temp[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        // The tick count keeps apart runs whose process IDs repeat.
        path_ = std::wstring(temp, length) + L"zub-scratch-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
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

}  // namespace zub::test_support
