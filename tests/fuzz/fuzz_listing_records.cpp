// Any bytes as a listing batch: following its records from the first reads
// nothing outside the batch (ASan checks each byte read), every record found
// lies inside it, and the walk ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "platform/listing_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the layout's name offset, as the record classes differ.
    if (size == 0) return 0;
    const zub::ListingRecordLayout layout{4, 8 + 8 * std::size_t{data[0] % 12u}};
    // A copy of exactly the input's length, 8-byte aligned as the system's buffer.
    std::vector<std::uint64_t> words((size - 1 + 7) / 8);
    if (size > 1) std::memcpy(words.data(), data + 1, size - 1);
    const std::span<const std::byte> batch(reinterpret_cast<const std::byte*>(words.data()), size - 1);

    std::optional<std::size_t> offset = 0;
    std::size_t previous = 0;
    for (std::size_t count = 0; offset; ++count) {
        const std::optional<zub::ListingRecord> record = zub::listing_record_at(batch, *offset, layout);
        if (!record) break;
        if (record->name_offset + 2 * record->name_units > batch.size() || *offset % 8 != 0) std::abort();
        // Each record's name is read whole, as the walk reads it.
        std::vector<char16_t> name(record->name_units);
        if (!name.empty()) {
            std::memcpy(name.data(), batch.data() + record->name_offset, name.size() * sizeof(char16_t));
        }
        // Offsets only grow: the walk cannot loop.
        if (count > 0 && *offset <= previous) std::abort();
        previous = *offset;
        offset = record->next_offset;
    }
    return 0;
}
