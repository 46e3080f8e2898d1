// Files reached by handle: relative opens by literal name, what a handle
// holds, directory listings read through a handle.
#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include "platform/win32_cast.h"
#include "platform/win32_platform.h"

namespace zub {
namespace {

constexpr std::size_t LISTING_BUFFER_BYTES = std::size_t{64} * 1024;

bool is_dot_entry(std::u16string_view name) { return name == u"." || name == u".."; }

// Entries come in batches, each one call of GetFileInformationByHandleEx:
// first with the restart class, then with the plain class until the system
// reports that no more files remain (or any other error, which ends it too).
class HandleListing final : public DirectoryListing {
public:
    explicit HandleListing(HANDLE directory)
        : directory_(directory), buffer_(new std::uint64_t[LISTING_BUFFER_BYTES / 8]) {}

    // False when not even the first batch could be read; an empty batch is an empty directory.
    bool start() {
        if (read_batch(FileIdBothDirectoryRestartInfo)) return true;
        const DWORD error = GetLastError();
        return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND;
    }

    bool next(DirEntry& entry) override {
        for (;;) {
            if (offset_ == END && !read_batch(FileIdBothDirectoryInfo)) return false;
            const FILE_ID_BOTH_DIR_INFO* info = entry_at(offset_);
            if (info == nullptr) {
                // A record that would run past the buffer: the batch is not to be trusted.
                finished_ = true;
                return false;
            }
            offset_ = info->NextEntryOffset == 0 ? END : offset_ + info->NextEntryOffset;
            const std::u16string_view name(win32::units(info->FileName),
                                           info->FileNameLength / sizeof(wchar_t));
            if (name.empty() || is_dot_entry(name)) continue;
            entry.name.assign(name);
            entry.attributes = info->FileAttributes;
            entry.file_id = static_cast<std::uint64_t>(info->FileId.QuadPart);
            return true;
        }
    }

private:
    static constexpr std::size_t END = static_cast<std::size_t>(-1);

    // The record at `offset`, when it lies wholly inside the buffer.
    const FILE_ID_BOTH_DIR_INFO* entry_at(std::size_t offset) const {
        constexpr std::size_t HEADER_BYTES = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
        if (offset % 8 != 0 || offset > LISTING_BUFFER_BYTES - HEADER_BYTES) return nullptr;
        const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(
            reinterpret_cast<const std::byte*>(buffer_.get()) + offset);
        if (info->FileNameLength > LISTING_BUFFER_BYTES - HEADER_BYTES - offset) return nullptr;
        return info;
    }

    bool read_batch(FILE_INFO_BY_HANDLE_CLASS info_class) {
        if (finished_) return false;
        // The call does not say how much it wrote: a batch it fills with nothing
        // must read as no entry, never as what an earlier batch left behind. The
        // records it does write chain to their own end, so clearing the first
        // header is enough (an empty name, no next record).
        std::memset(buffer_.get(), 0, offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
        if (!GetFileInformationByHandleEx(directory_, info_class, buffer_.get(), LISTING_BUFFER_BYTES)) {
            finished_ = true;
            return false;
        }
        offset_ = 0;
        return true;
    }

    HANDLE directory_;
    std::unique_ptr<std::uint64_t[]> buffer_;  // 8-byte aligned, as the records require
    std::size_t offset_ = END;
    bool finished_ = false;
};

}  // namespace

HandleResult Win32Platform::open_relative(Handle directory, std::u16string_view name,
                                          std::uint32_t access) {
    // A name is one path component: far below what a counted string can hold.
    if (name.size() > 0x7FFF) return {INVALID_HANDLE, ERROR_FILENAME_EXCED_RANGE};
    UNICODE_STRING object_name;
    object_name.Buffer = const_cast<wchar_t*>(win32::wide(name.data()));
    object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    object_name.MaximumLength = object_name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE,
                               win32::to_win(directory), nullptr);
    IO_STATUS_BLOCK status_block{};
    HANDLE file = nullptr;
    // Synchronous I/O needs SYNCHRONIZE, which CreateFileW would have added itself.
    const NTSTATUS status = NtCreateFile(
        &file, access | SYNCHRONIZE, &attributes, &status_block, nullptr, 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
        FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0) return {INVALID_HANDLE, static_cast<std::uint32_t>(RtlNtStatusToDosError(status))};
    return {win32::from_win(file), 0};
}

BoolResult Win32Platform::query_file_identity(Handle file, FileIdentity* identity) {
    // Two narrow queries rather than GetFileInformationByHandle, which also asks
    // for the volume's serial number: under Wine that is a round trip to the
    // mount manager for every object of the walk.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(win32::to_win(file), FileAttributeTagInfo, &tag, sizeof tag)) {
        return win32::bool_result(FALSE);
    }
    IO_STATUS_BLOCK status_block{};
    FILE_INTERNAL_INFORMATION internal{};
    const NTSTATUS status = NtQueryInformationFile(win32::to_win(file), &status_block, &internal,
                                                   sizeof internal, FileInternalInformation);
    if (status < 0) return {false, static_cast<std::uint32_t>(RtlNtStatusToDosError(status))};
    identity->attributes = tag.FileAttributes;
    identity->file_id = static_cast<std::uint64_t>(internal.IndexNumber.QuadPart);
    return {true, 0};
}

std::unique_ptr<DirectoryListing> Win32Platform::open_directory_listing(Handle directory) {
    auto listing = std::make_unique<HandleListing>(win32::to_win(directory));
    if (!listing->start()) return nullptr;
    return listing;
}

std::optional<std::uint32_t> Win32Platform::attributes_from_directory_entry(const char16_t* path) {
    WIN32_FIND_DATAW data{};
    const HANDLE find =
        FindFirstFileExW(win32::wide(path), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(find);
    return data.dwFileAttributes;
}

}  // namespace zub
