#pragma once
// Files and handles: opens by path and, inside a directory, by literal name;
// what a handle holds; listings read through a handle.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "base/os_string.h"
#include "platform/call_results.h"

namespace zub {

// A file's ID on its volume, 128 bits wide (ReFS needs them all; NTFS fills
// the low 64). 0 and all ones mean the file system does not know it, so such
// an ID never matches another.
struct FileId {
    std::array<std::uint8_t, 16> bytes{};
    bool operator==(const FileId&) const = default;
    bool is_known() const;
    // Equal and known: the one test of identity the walk relies on.
    bool same_object_as(const FileId& other) const { return is_known() && bytes == other.bytes; }
    static FileId from_64(std::uint64_t id);
};

inline bool FileId::is_known() const {
    bool all_zero = true;
    bool all_ones = true;
    for (const std::uint8_t byte : bytes) {
        all_zero = all_zero && byte == 0;
        all_ones = all_ones && byte == 0xFF;
    }
    return !all_zero && !all_ones;
}

// A 64-bit ID as its 128-bit form: zero-extended, except that the unknown
// value (all ones) stays unknown.
inline FileId FileId::from_64(std::uint64_t id) {
    FileId wide;
    if (id == ~std::uint64_t{0}) {
        wide.bytes.fill(0xFF);
        return wide;
    }
    for (std::size_t i = 0; i < 8; ++i) wide.bytes[i] = static_cast<std::uint8_t>(id >> (8 * i));
    return wide;
}

// How wide a listing's file IDs are: 128 bits, or 64 bits zero-extended where
// the listing class with 128-bit IDs is refused (Wine 8; some file systems).
// An object is queried at its listing's width, so that each side of the
// comparison costs what it must: under Wine the 128-bit query also fetches
// the volume's serial number, a round trip to its mount manager.
enum class IdWidth : std::uint8_t { Bits64, Bits128 };

// One entry of a directory listing ("." and ".." never appear).
struct DirEntry {
    OsString name;
    std::uint32_t attributes;
    FileId file_id;
    IdWidth id_width = IdWidth::Bits128;
};

// A listing read through a directory handle, which it borrows.
class DirectoryListing {
public:
    virtual ~DirectoryListing() = default;
    // The next entry; false at the end of the listing or on a read error.
    virtual bool next(DirEntry& entry) = 0;
};

// What an open handle says of its object: its attributes (with the reparse bit)
// and its file ID.
struct FileIdentity {
    std::uint32_t attributes;
    FileId file_id;
};

class Files {
public:
    virtual ~Files() = default;
    // By path, with the Win32 path rules. An absolute path too long for the
    // rules in force is opened again through its full form behind "\\?\",
    // which keeps the meaning those rules give it; attributes_from_directory_entry too.
    virtual HandleResult create_file_w(const char16_t* name, std::uint32_t access,
                                       std::uint32_t share_mode,
                                       const SecurityAttributes* security_attributes,
                                       std::uint32_t creation_disposition,
                                       std::uint32_t flags_and_attributes) = 0;
    virtual bool close_handle(Handle handle) = 0;
    virtual Handle get_std_handle(std::uint32_t which) = 0;  // 0 or -1 when there is none
    virtual BoolResult set_handle_information(Handle handle, std::uint32_t mask,
                                              std::uint32_t flags) = 0;
    // Opens `name` inside `directory` by its literal name (NtCreateFile with a
    // root directory; no Win32 path rules), a final reparse point itself and
    // not its target, without backup intent (the DACL always decides), and
    // without waiting for an oplock break.
    // An empty name opens `directory`'s own object again.
    virtual HandleResult open_relative(Handle directory, std::u16string_view name,
                                       std::uint32_t access) = 0;
    virtual BoolResult query_file_identity(Handle file, IdWidth width, FileIdentity* identity) = 0;
    // Null when the listing cannot be started; an empty directory gives a
    // listing without entries.
    virtual std::unique_ptr<DirectoryListing> open_directory_listing(Handle directory) = 0;
    // A path's attributes as its parent directory's entry shows them
    // (FindFirstFileExW), for a path that cannot be opened.
    virtual std::optional<std::uint32_t> attributes_from_directory_entry(const char16_t* path) = 0;
};

}  // namespace zub
