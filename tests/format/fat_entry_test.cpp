#include "format/fat_entry.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace kestra::format {
namespace {

// Each row writes one entry into a FAT whose bytes are all AAh and reads the
// bytes back: FAT12 entries share a middle byte (an even entry owns its low
// half, an odd one its high half), FAT32 keeps its reserved top four bits, and
// no neighbour changes.
TEST(FatEntryTest, WritesOnlyItsOwnBitsInEveryWidth) {
    struct Row {
        FatType type;
        uint32_t n, value;
        std::array<uint8_t, 4> bytes;  // from FatEntryOffset on
        uint32_t read;
    };
    const Row rows[] = {
        {FatType::Fat12, 4, 0xFF7, {0xF7, 0xAF, 0xAA, 0xAA}, 0xFF7},  // bytes 6, 7
        {FatType::Fat12, 5, 0x123, {0x3A, 0x12, 0xAA, 0xAA}, 0x123},  // bytes 7, 8
        {FatType::Fat12, 5, 0xFFFF, {0xFA, 0xFF, 0xAA, 0xAA}, 0xFFF},
        {FatType::Fat16, 3, 0x1FFF8, {0xF8, 0xFF, 0xAA, 0xAA}, 0xFFF8},
        {FatType::Fat32, 2, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xAF}, 0x0FFFFFFF},
        {FatType::Fat32, 2, 0x00000005, {0x05, 0x00, 0x00, 0xA0}, 0x5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << FatEntryBits(r.type) << "-bit entry " << r.n);
        std::vector<uint8_t> fat(32, 0xAA);
        WriteFatEntry(fat.data(), r.type, r.n, r.value);
        const size_t at = FatEntryOffset(r.type, r.n);
        for (size_t i = 0; i < fat.size(); ++i) {
            const uint8_t want = i >= at && i < at + 4 ? r.bytes[i - at] : 0xAA;
            EXPECT_EQ(fat[i], want) << "byte " << i;
        }
        EXPECT_EQ(ReadFatEntry(fat.data(), r.type, r.n), r.read);
    }
}

}  // namespace
}  // namespace kestra::format
