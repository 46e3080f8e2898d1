#include "platform/listing_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

namespace zub {
namespace {

// A record class with its name length at byte 4 and its name at byte 16.
constexpr ListingRecordLayout LAYOUT{4, 16};

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
        // The record's next-entry offset and name length, where they fit.
        std::vector<std::byte> batch(row.size);
        if (row.offset + LAYOUT.name_at <= row.size) {
            std::memcpy(batch.data() + row.offset, &row.next, 4);
            std::memcpy(batch.data() + row.offset + LAYOUT.name_length_at, &row.name_bytes, 4);
        }
        const std::optional<ListingRecord> found = listing_record_at(batch, row.offset, LAYOUT);
        ASSERT_EQ(found.has_value(), row.expected.has_value());
        if (!found) continue;
        EXPECT_EQ(std::tie(found->name_offset, found->name_units, found->next_offset),
                  std::tie(row.expected->name_offset, row.expected->name_units, row.expected->next_offset));
    }
}

}  // namespace
}  // namespace zub
