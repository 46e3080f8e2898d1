// The no-follow attribute query, directory listings, files and handles.
#include <windows.h>

#include <cstddef>

#include "platform/win32_cast.h"
#include "platform/path_join.h"
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

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Directories open too, and a final reparse point is opened itself, not its target.
constexpr DWORD OPEN_NO_FOLLOW = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

HANDLE find_first(const wchar_t* pattern, WIN32_FIND_DATAW& data) {
    return FindFirstFileExW(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
}

std::optional<std::uint32_t> attributes_from_handle(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return info.dwFileAttributes;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) {
        return std::nullopt;
    }
    return tag.FileAttributes;
}

// A path that cannot be opened (in use, or no right to open it) can still
// show its attributes through its directory entry.
std::optional<std::uint32_t> attributes_from_directory_entry(const wchar_t* path) {
    WIN32_FIND_DATAW data{};
    const HANDLE find = find_first(path, data);
    if (find == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(find);
    return data.dwFileAttributes;
}

bool is_dot_entry(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == 0) || (name[0] == L'.' && name[1] == L'.' && name[2] == 0);
}

class Win32DirectoryListing final : public DirectoryListing {
public:
    // `find` is INVALID_HANDLE_VALUE for an empty directory.
    Win32DirectoryListing(HANDLE find, const WIN32_FIND_DATAW& first)
        : find_(find), pending_(first), has_pending_(find != INVALID_HANDLE_VALUE) {}
    ~Win32DirectoryListing() override {
        if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
    }
    Win32DirectoryListing(const Win32DirectoryListing&) = delete;
    Win32DirectoryListing& operator=(const Win32DirectoryListing&) = delete;

    bool next(DirEntry& entry) override {
        for (;;) {
            if (!has_pending_) {
                // Any failure, ERROR_NO_MORE_FILES or another, ends the listing.
                if (find_ == INVALID_HANDLE_VALUE || !FindNextFileW(find_, &pending_)) {
                    return false;
                }
            }
            has_pending_ = false;
            if (is_dot_entry(pending_.cFileName)) continue;
            entry.name = OsString{win32::units(pending_.cFileName)};
            entry.attributes = pending_.dwFileAttributes;
            return true;
        }
    }

private:
    HANDLE find_;
    WIN32_FIND_DATAW pending_;
    bool has_pending_;
};

}  // namespace

std::optional<std::uint32_t> Win32Platform::query_attributes_no_follow(const char16_t* path) {
    const HANDLE file =
        CreateFileW(win32::wide(path), 0, SHARE_ALL, nullptr, OPEN_EXISTING, OPEN_NO_FOLLOW, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
            return attributes_from_directory_entry(win32::wide(path));
        }
        return std::nullopt;
    }
    const std::optional<std::uint32_t> attributes = attributes_from_handle(file);
    CloseHandle(file);
    return attributes;
}

std::unique_ptr<DirectoryListing> Win32Platform::open_directory_listing(const char16_t* directory) {
    std::u16string pattern{directory};
    append_path_component(pattern, u"*");
    WIN32_FIND_DATAW first{};
    const HANDLE find = find_first(win32::wide(pattern.c_str()), first);
    if (find == INVALID_HANDLE_VALUE) {
        // Not even "." matched: a directory without entries.
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return std::make_unique<Win32DirectoryListing>(INVALID_HANDLE_VALUE, first);
        }
        return nullptr;
    }
    return std::make_unique<Win32DirectoryListing>(find, first);
}

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
    const HANDLE file = CreateFileW(win32::wide(name), access, share_mode, attributes,
                                    creation_disposition, flags_and_attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {INVALID_HANDLE, static_cast<std::uint32_t>(GetLastError())};
    }
    return {win32::from_win(file), 0};
}

bool Win32Platform::close_handle(Handle handle) { return CloseHandle(win32::to_win(handle)) != 0; }

}  // namespace zub
