#pragma once
// What a confined child with write access could set up against the walk: a
// mount point, and a batch oplock it never acknowledges. Wine 8 can make
// neither; each reports the Win32 error that stopped it.
#include <windows.h>

#include <winioctl.h>

#include <string>

namespace zub::test_support {

// Makes `link` a new directory that is a mount point to `target` (absolute).
inline DWORD make_junction(const std::wstring& link, const std::wstring& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr)) return GetLastError();
    const std::wstring substitute = L"\\??\\" + target;
    // The mount-point layout of REPARSE_DATA_BUFFER, which only the driver kit declares.
    struct MountPoint {
        DWORD tag;
        WORD data_length, reserved;
        WORD substitute_offset, substitute_length, print_offset, print_length;
        wchar_t names[MAX_PATH * 2];
    } buffer{};
    const WORD substitute_bytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    const WORD print_bytes = static_cast<WORD>(target.size() * sizeof(wchar_t));
    buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.substitute_length = substitute_bytes;
    buffer.print_offset = static_cast<WORD>(substitute_bytes + sizeof(wchar_t));
    buffer.print_length = print_bytes;
    substitute.copy(buffer.names, substitute.size());
    target.copy(buffer.names + substitute.size() + 1, target.size());
    buffer.data_length = static_cast<WORD>(8 + substitute_bytes + print_bytes + 2 * sizeof(wchar_t));
    const HANDLE handle = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    DWORD returned = 0;
    if (!error && !DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &buffer, 8u + buffer.data_length,
                                   nullptr, 0, &returned, nullptr))
        error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (error) RemoveDirectoryW(link.c_str());
    return error;
}

// A batch oplock on a file, held until release(): its break is never
// acknowledged, so an open that breaks it and waits, waits until then.
class BatchOplock {
public:
    explicit BatchOplock(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr)) {
        if (file_ == INVALID_HANDLE_VALUE) {
            error_ = GetLastError();
            return;
        }
        overlapped_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // Granted, the request stays pending until the oplock breaks.
        const BOOL done = DeviceIoControl(file_, FSCTL_REQUEST_BATCH_OPLOCK, nullptr, 0, nullptr, 0, nullptr,
                                          &overlapped_);
        error_ = done ? ERROR_OPLOCK_NOT_GRANTED : GetLastError();
    }
    ~BatchOplock() { release(); }
    BatchOplock(const BatchOplock&) = delete;
    BatchOplock& operator=(const BatchOplock&) = delete;

    bool held() const { return error_ == ERROR_IO_PENDING; }
    DWORD error() const { return error_; }
    bool break_requested() const { return WaitForSingleObject(overlapped_.hEvent, 0) == WAIT_OBJECT_0; }

    void release() {
        if (file_ == INVALID_HANDLE_VALUE) return;
        DWORD moved = 0;
        if (held()) {
            CancelIoEx(file_, &overlapped_);
            GetOverlappedResult(file_, &overlapped_, &moved, TRUE);
        }
        if (overlapped_.hEvent) CloseHandle(overlapped_.hEvent);
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE file_;
    OVERLAPPED overlapped_{};
    DWORD error_ = 0;
};

}  // namespace zub::test_support
