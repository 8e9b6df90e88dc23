#include "fat/fat_table.h"

#include <gtest/gtest.h>

#include "support/image.h"
#include "support/image_damage.h"
#include "volume_fixture.h"

namespace kestra::fat {
namespace {

using testing::ImageBuilder;
using testing::ImageOptions;

// A volume with a fragmented file, a bad cluster and a folder, so that every kind
// of FAT value is present.
testing::FatImage VolumeWith(ImageOptions options) {
    ImageBuilder b(options);
    const auto docs = b.AddFolder(b.Root(), "DOCS", {{40, 1}});
    b.AddFile(docs, "A.BIN", testing::SeededBytes(1, 3 * options.sectorsPerCluster * 512),
              {{10, 2}, {30, 1}});
    b.AddFile(b.Root(), "B.BIN", testing::SeededBytes(2, 100), {{50, 1}});
    testing::FatImage image = b.Build();
    testing::MarkBad(image, 60);
    return image;
}

// Every type at the published threshold, the FAT wherever the reserved sectors
// put it; FAT12 and FAT16 entries (packed ones straddling sectors too) widen
// into the FAT32 value space, and a failed read of any of them stops the run.
TEST(ReadFatTest, EveryTypeLoadsIntoTheFat32ValueSpaceFromItsReservedSectors) {
    using testing::FatType;
    ImageOptions reserved;
    reserved.reservedSectors = 6;
    const std::pair<ImageOptions, format::FatType> cases[] = {
        {testing::OptionsForClusterCount(FatType::kFat12, 4084), format::FatType::Fat12},
        {testing::OptionsForClusterCount(FatType::kFat16, 4085, reserved), format::FatType::Fat16},
        {ImageOptions::Fat32(1), format::FatType::Fat32},
    };
    for (const auto& [options, type] : cases) {
        const testing::FatImage image = VolumeWith(options);
        SCOPED_TRACE(image.layout().clusterCount);
        VolumeFixture f(image);
        EXPECT_EQ(f.geo.Type, type);
        ASSERT_TRUE(ReadFat(f.run));
        EXPECT_EQ(f.fake->Trace().back().first, image.layout().reservedSectors);
        for (uint32_t c = 2; c <= image.layout().MaxCluster(); ++c) {
            const uint32_t raw = image.FatEntry(c);
            uint32_t want = raw;
            if (type == format::FatType::Fat12 && raw >= 0xFF0) want |= 0x0FFFF000;
            if (type == format::FatType::Fat16 && raw >= 0xFFF0) want |= 0x0FFF0000;
            ASSERT_EQ(f.model.Fat[c] & kFatMask, want & kFatMask) << c;
        }
        EXPECT_EQ(f.model.Fat[60] & kFatMask, kFatBad);
        EXPECT_EQ(f.model.Fat[11], 30u);
        EXPECT_GE(f.model.Fat.size(), size_t{f.counters.LastCluster} + 1);
        EXPECT_FALSE(f.flags.RunError);

        VolumeFixture failing(image);
        failing.fake->Script().failReadSector = failing.geo.FatStartSector + 3;
        EXPECT_FALSE(ReadFat(failing.run));
        EXPECT_EQ(failing.flags.ErrText, "Error reading drive");
        EXPECT_TRUE(failing.flags.DiskErrorFlag);
    }
}

}  // namespace
}  // namespace kestra::fat
