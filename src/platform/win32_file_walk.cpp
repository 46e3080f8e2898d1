// Files reached by handle: relative opens by literal name, what a handle
// holds, directory listings read through a handle.
#include "platform/win32_nt.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "platform/listing_records.h"
#include "platform/win32_cast.h"
#include "platform/win32_long_path.h"
#include "platform/win32_platform.h"

namespace zub {
namespace {

constexpr std::size_t LISTING_BUFFER_BYTES = std::size_t{64} * 1024;
// Batches in a row that the system reports as read yet that hold no entry
// but "." and "..": the system gives at most one (a directory's first, when
// it holds nothing else). A file system that keeps answering so would hold
// the walk in this listing for ever.
constexpr int MAX_BATCHES_WITHOUT_ENTRY = 8;

bool is_dot_entry(std::u16string_view name) { return name == u"." || name == u".."; }

// The two record layouts a listing may come in: the one with 128-bit file IDs
// (Windows 8 and later), and the older one with 64-bit IDs, for file systems
// and systems that refuse the first (Wine 8 answers 87).
struct ExtendedRecords {
    using Record = FILE_ID_EXTD_DIR_INFO;
    static constexpr IdWidth WIDTH = IdWidth::Bits128;
    static constexpr FILE_INFO_BY_HANDLE_CLASS RESTART = FileIdExtdDirectoryRestartInfo;
    static constexpr FILE_INFO_BY_HANDLE_CLASS NEXT = FileIdExtdDirectoryInfo;
    static FileId file_id(const Record& record) {
        FileId id;
        std::memcpy(id.bytes.data(), record.FileId.Identifier, id.bytes.size());
        return id;
    }
};

struct BothRecords {
    using Record = FILE_ID_BOTH_DIR_INFO;
    static constexpr IdWidth WIDTH = IdWidth::Bits64;
    static constexpr FILE_INFO_BY_HANDLE_CLASS RESTART = FileIdBothDirectoryRestartInfo;
    static constexpr FILE_INFO_BY_HANDLE_CLASS NEXT = FileIdBothDirectoryInfo;
    static FileId file_id(const Record& record) {
        return FileId::from_64(static_cast<std::uint64_t>(record.FileId.QuadPart));
    }
};

// Entries come in batches, each one call of GetFileInformationByHandleEx:
// first with the restart class, then with the plain class until the system
// reports that no more files remain (or any other error, which ends it too).
template <class Records>
class HandleListing final : public DirectoryListing {
public:
    using Record = typename Records::Record;

    HandleListing(HANDLE directory, std::unique_ptr<std::uint64_t[]> buffer)
        : directory_(directory), buffer_(std::move(buffer)) {}

    // The buffer back, for a listing of another class after this one was refused.
    std::unique_ptr<std::uint64_t[]> release_buffer() { return std::move(buffer_); }

    // False when not even the first batch could be read, with the error; an
    // empty batch is an empty directory.
    bool start(DWORD& error) {
        if (read_batch(Records::RESTART)) return true;
        error = GetLastError();
        return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND;
    }

    bool next(DirEntry& entry) override {
        for (;;) {
            if (offset_ == END && !read_batch(Records::NEXT)) return false;
            const std::optional<ListingRecord> record = listing_record_at(batch(), offset_, LAYOUT);
            if (!record) {
                // A record that would run past the buffer: the batch is not to be trusted.
                finished_ = true;
                return false;
            }
            const auto* info = reinterpret_cast<const Record*>(batch().data() + offset_);
            offset_ = record->next_offset.value_or(END);
            const std::u16string_view name(win32::units(info->FileName), record->name_units);
            if (name.empty() || is_dot_entry(name)) continue;
            batches_without_entry_ = 0;
            entry.name.assign(name);
            entry.attributes = info->FileAttributes;
            entry.file_id = Records::file_id(*info);
            entry.id_width = Records::WIDTH;
            return true;
        }
    }

private:
    static constexpr std::size_t END = static_cast<std::size_t>(-1);
    static constexpr std::size_t HEADER_BYTES = offsetof(Record, FileName);
    static constexpr ListingRecordLayout LAYOUT{offsetof(Record, FileNameLength), HEADER_BYTES};
    // What listing_record_at reads, and what next() reads once it has checked
    // the fixed part, lies inside that fixed part.
    static_assert(offsetof(Record, NextEntryOffset) == 0 && sizeof(Record::NextEntryOffset) == 4);
    static_assert(sizeof(Record::FileNameLength) == 4 && is_sound_layout(LAYOUT));
    static_assert(offsetof(Record, FileAttributes) + sizeof(Record::FileAttributes) <= HEADER_BYTES);
    static_assert(offsetof(Record, FileId) + sizeof(Record::FileId) <= HEADER_BYTES);

    // The call does not say how much it wrote: the whole buffer is the batch.
    std::span<const std::byte> batch() const {
        return {reinterpret_cast<const std::byte*>(buffer_.get()), LISTING_BUFFER_BYTES};
    }

    bool read_batch(FILE_INFO_BY_HANDLE_CLASS info_class) {
        // Ended as a failed read ends it: the walk goes on with the next directory.
        if (batches_without_entry_ == MAX_BATCHES_WITHOUT_ENTRY) finished_ = true;
        if (finished_) return false;
        // The call does not say how much it wrote: a batch it fills with nothing
        // must read as no entry, never as what an earlier batch left behind. The
        // records it does write chain to their own end, so clearing the first
        // header is enough (an empty name, no next record).
        std::memset(buffer_.get(), 0, HEADER_BYTES);
        if (!GetFileInformationByHandleEx(directory_, info_class, buffer_.get(), LISTING_BUFFER_BYTES)) {
            finished_ = true;
            return false;
        }
        offset_ = 0;
        ++batches_without_entry_;
        return true;
    }

    HANDLE directory_;
    std::unique_ptr<std::uint64_t[]> buffer_;  // 8-byte aligned, as the records require
    std::size_t offset_ = END;
    int batches_without_entry_ = 0;
    bool finished_ = false;
};

// What a file system or system says when it does not know an information class.
bool is_unknown_class_error(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_NOT_SUPPORTED;
}

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
    // Synchronous I/O needs SYNCHRONIZE, which CreateFileW would have added
    // itself. Asking for READ_CONTROL or WRITE_DAC breaks an oplock; without
    // FILE_COMPLETE_IF_OPLOCKED the open would wait, with no time limit, for a
    // holder (a script, maybe hostile) to acknowledge the break. Security and
    // listing calls on the handle do not wait for it. No backup intent: with
    // neither FILE_DIRECTORY_FILE nor FILE_NON_DIRECTORY_FILE a directory opens
    // as a file does, and backup intent would only let an enabled backup or
    // restore privilege override the object's DACL.
    const NTSTATUS status = NtCreateFile(
        &file, access | SYNCHRONIZE, &attributes, &status_block, nullptr, 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
        FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED, nullptr, 0);
    if (!win32::nt_success(status)) {
        return {INVALID_HANDLE, static_cast<std::uint32_t>(RtlNtStatusToDosError(status))};
    }
    return {win32::from_win(file), 0};
}

BoolResult Win32Platform::query_file_identity(Handle file, IdWidth width, FileIdentity* identity) {
    // Narrow queries rather than GetFileInformationByHandle, which also asks
    // for the volume's serial number: under Wine a round trip to the mount
    // manager for every object of the walk. FileIdInfo asks for it too, so it
    // is used only where the listing gave 128-bit IDs to compare with.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(win32::to_win(file), FileAttributeTagInfo, &tag, sizeof tag)) {
        return win32::bool_result(FALSE);
    }
    if (width == IdWidth::Bits128) {
        FILE_ID_INFO id{};
        if (!GetFileInformationByHandleEx(win32::to_win(file), FileIdInfo, &id, sizeof id)) {
            return win32::bool_result(FALSE);
        }
        static_assert(sizeof id.FileId.Identifier == sizeof identity->file_id.bytes);
        std::memcpy(identity->file_id.bytes.data(), id.FileId.Identifier, identity->file_id.bytes.size());
    } else {
        IO_STATUS_BLOCK status_block{};
        nt::FileInternalInformation internal{};
        const NTSTATUS status = NtQueryInformationFile(win32::to_win(file), &status_block, &internal,
                                                       sizeof internal, nt::FILE_INTERNAL_INFORMATION_CLASS);
        if (!win32::nt_success(status)) {
            return {false, static_cast<std::uint32_t>(RtlNtStatusToDosError(status))};
        }
        identity->file_id = FileId::from_64(static_cast<std::uint64_t>(internal.index_number.QuadPart));
    }
    identity->attributes = tag.FileAttributes;
    return {true, 0};
}

std::unique_ptr<DirectoryListing> Win32Platform::open_directory_listing(Handle directory) {
    DWORD error = 0;
    auto extended = std::make_unique<HandleListing<ExtendedRecords>>(
        // Not zeroed: each batch clears only what it must.
        win32::to_win(directory), std::unique_ptr<std::uint64_t[]>(new std::uint64_t[LISTING_BUFFER_BYTES / 8]));
    if (extended->start(error)) return extended;
    if (!is_unknown_class_error(error)) return nullptr;
    // One buffer per directory, whichever class lists it.
    auto both = std::make_unique<HandleListing<BothRecords>>(win32::to_win(directory), extended->release_buffer());
    if (both->start(error)) return both;
    return nullptr;
}

std::optional<std::uint32_t> Win32Platform::attributes_from_directory_entry(const char16_t* path) {
    WIN32_FIND_DATAW data{};
    DWORD error = ERROR_SUCCESS;
    const HANDLE find = win32::open_by_path(
        win32::wide(path),
        [&](const wchar_t* name) {
            return FindFirstFileExW(name, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
        },
        error);
    if (find == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(find);
    return data.dwFileAttributes;
}

}  // namespace zub
