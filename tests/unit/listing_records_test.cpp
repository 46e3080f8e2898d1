#include "platform/listing_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace zub {
namespace {

// A record class with its name length at byte 4 and its name at byte 16.
constexpr ListingRecordLayout LAYOUT{4, 16};

// A batch of `size` bytes with a record at `offset`: its next-entry offset and name length.
std::vector<std::byte> batch_with(std::size_t size, std::size_t offset, std::uint32_t next, std::uint32_t name_bytes) {
    std::vector<std::byte> batch(size);
    if (offset + LAYOUT.name_at <= size) {
        std::memcpy(batch.data() + offset, &next, sizeof next);
        std::memcpy(batch.data() + offset + LAYOUT.name_length_at, &name_bytes, sizeof name_bytes);
    }
    return batch;
}

// Batches exactly as long as stated, so that a read past one is an ASan report.
TEST(ListingRecords, ARecordIsReadOnlyWhenItLiesWhollyInsideTheBatch) {
    struct Row {
        const char* name;
        std::size_t size, offset;
        std::uint32_t next, name_bytes;
        std::optional<ListingRecord> expected;
    };
    const Row rows[] = {
        {"name ending exactly at the end", 40, 0, 0, 24, ListingRecord{16, 12, std::nullopt}},
        {"next record after it", 64, 0, 40, 4, ListingRecord{16, 2, 40}},
        {"record at an aligned offset inside", 64, 40, 0, 8, ListingRecord{56, 4, std::nullopt}},
        {"name one byte past the end", 40, 0, 0, 25, std::nullopt},
        {"name length near 2^32", 40, 0, 0, 0xFFFFFFF8u, std::nullopt},
        {"fixed part past the end", 40, 32, 0, 0, std::nullopt},
        {"offset misaligned", 64, 36, 0, 0, std::nullopt},
        {"offset at the end", 40, 40, 0, 0, std::nullopt},
        {"offset past the end", 40, 48, 0, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::byte> batch = batch_with(row.size, row.offset, row.next, row.name_bytes);
        const std::optional<ListingRecord> found = listing_record_at(batch, row.offset, LAYOUT);
        ASSERT_EQ(found.has_value(), row.expected.has_value());
        if (!found) continue;
        EXPECT_EQ(found->name_offset, row.expected->name_offset);
        EXPECT_EQ(found->name_units, row.expected->name_units);
        EXPECT_EQ(found->next_offset, row.expected->next_offset);
    }
}

}  // namespace
}  // namespace zub
