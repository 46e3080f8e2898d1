#pragma once
// The records of one directory listing batch, read from the raw bytes the
// system filled: each record is checked to lie wholly inside the batch before
// anything in it is read, so a batch that a file system got wrong ends the
// listing instead of reading past it. Portable, so the host tests can feed it
// crafted batches.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zub {

// Where the fields the walk relies on lie in a record of one listing class.
// Every class starts with the offset of the next record (0 for the last).
struct ListingRecordLayout {
    std::size_t name_length_at;  // the name's length in bytes, 32 bits
    std::size_t name_at;         // the name, right after the fixed part
};

// A layout whose fields listing_record_at can read once the fixed part lies
// inside the batch: the name's length after the next record's offset (32 bits
// at 0), and wholly before the name, which starts on a UTF-16 unit.
constexpr bool is_sound_layout(const ListingRecordLayout& layout) {
    return layout.name_length_at >= sizeof(std::uint32_t) &&
           layout.name_length_at + sizeof(std::uint32_t) <= layout.name_at && layout.name_at % sizeof(char16_t) == 0;
}

// A record found to lie inside the batch.
struct ListingRecord {
    std::size_t name_offset;                    // from the start of the batch
    std::size_t name_units;                     // UTF-16 units
    std::optional<std::size_t> next_offset;     // none for the batch's last record
};

// The record at `offset`: none when it is misaligned (records are 8-byte
// aligned) or when its fixed part or its name runs past the end of `batch`.
std::optional<ListingRecord> listing_record_at(std::span<const std::byte> batch, std::size_t offset,
                                               const ListingRecordLayout& layout);

}  // namespace zub
