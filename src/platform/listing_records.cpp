#include "platform/listing_records.h"

#include <cstring>

namespace zub {

std::optional<ListingRecord> listing_record_at(std::span<const std::byte> batch, std::size_t offset,
                                               const ListingRecordLayout& layout) {
    if (offset % 8 != 0 || offset > batch.size() || batch.size() - offset < layout.name_at) return std::nullopt;
    const std::byte* record = batch.data() + offset;
    std::uint32_t next = 0;
    std::uint32_t name_bytes = 0;
    std::memcpy(&next, record, sizeof next);
    std::memcpy(&name_bytes, record + layout.name_length_at, sizeof name_bytes);
    if (name_bytes > batch.size() - offset - layout.name_at) return std::nullopt;
    ListingRecord found{offset + layout.name_at, name_bytes / sizeof(char16_t), std::nullopt};
    // Checked when it is read, as every record is.
    if (next != 0) found.next_offset = offset + next;
    return found;
}

}  // namespace zub
