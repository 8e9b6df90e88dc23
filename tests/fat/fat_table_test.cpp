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

// Fat in memory holds every entry of FAT 1, in the FAT32 value space.
void ExpectFatMatches(const testing::FatImage& image, const VolumeFixture& f) {
    for (uint32_t c = 2; c <= image.layout().MaxCluster(); ++c) {
        const uint32_t raw = image.FatEntry(c);
        uint32_t want = raw;
        if (image.type() == testing::FatType::kFat12 && raw >= 0xFF0) want |= 0x0FFFF000;
        if (image.type() == testing::FatType::kFat16 && raw >= 0xFFF0) want |= 0x0FFF0000;
        ASSERT_EQ(f.model.Fat[c] & kFatMask, want & kFatMask) << c;
    }
}

TEST(ReadFatTest, EveryFatTypeLoadsIntoTheFat32ValueSpace) {
    for (const ImageOptions& options :
         {ImageOptions::Floppy1440(), ImageOptions::Fat16(65536, 4), ImageOptions::Fat32(1)}) {
        const testing::FatImage image = VolumeWith(options);
        VolumeFixture f(image);
        ASSERT_TRUE(ReadFat(f.run));
        ExpectFatMatches(image, f);
        EXPECT_EQ(f.model.Fat[60] & kFatMask, kFatBad);
        EXPECT_EQ(f.model.Fat[11], 30u);
        EXPECT_GE(f.model.Fat.size(), size_t{f.counters.LastCluster} + 1);
        EXPECT_FALSE(f.flags.RunError);
    }
}

TEST(ReadFatTest, TheFatIsReadWhereTheReservedSectorsSayAndTheTypeByCount) {
    ImageOptions options = ImageOptions::Fat16(65536, 4);
    options.reservedSectors = 6;
    const testing::FatImage image = VolumeWith(options);
    VolumeFixture f(image);
    ASSERT_TRUE(ReadFat(f.run));
    ExpectFatMatches(image, f);
    EXPECT_EQ(f.fake->Trace().back().first, 6u);

    for (const auto& [type, clusters] :
         {std::pair{testing::FatType::kFat12, 4084u}, {testing::FatType::kFat16, 4085u}}) {
        const testing::FatImage edge = VolumeWith(testing::OptionsForClusterCount(type, clusters));
        VolumeFixture g(edge);
        EXPECT_EQ(g.geo.Type, type == testing::FatType::kFat12 ? platform::FatType::Fat12
                                                               : platform::FatType::Fat16);
        ASSERT_TRUE(ReadFat(g.run));
        ExpectFatMatches(edge, g);
    }
}

TEST(ReadFatTest, AFailedReadStopsTheRun) {
    const testing::FatImage image = VolumeWith(ImageOptions::Fat32(1));
    VolumeFixture f(image);
    f.fake->Script().failReadSector = f.geo.FatStartSector + 3;
    EXPECT_FALSE(ReadFat(f.run));
    EXPECT_EQ(f.flags.ErrText, "Error reading drive");
    EXPECT_TRUE(f.flags.DiskErrorFlag);
}

}  // namespace
}  // namespace kestra::fat
