#include "fat/free_gaps.h"

#include <gtest/gtest.h>

#include "fat_fixture.h"

namespace kestra::fat {
namespace {

std::vector<std::pair<uint32_t, uint32_t>> Gaps(const VolumeModel& m) {
    std::vector<std::pair<uint32_t, uint32_t>> gaps;
    for (uint32_t i = 1; i <= m.GapCount; ++i)
        gaps.emplace_back(m.GapStart[i], m.GapLen[i]);
    return gaps;
}

using G = std::vector<std::pair<uint32_t, uint32_t>>;

TEST(FreeGapsTest, RebuildFindsMaximalGapsUpToTheLastClusterAndCountsThem) {
    FatFixture f(30);  // clusters 2..31
    f.Run(2, 3);       // 2..4 used
    f.Run(10, 5);      // 10..14 used
    FAT_FREE_Segs(f.run);
    EXPECT_EQ(Gaps(f.model), (G{{5, 5}, {15, 17}}));
    EXPECT_EQ(f.model.GapFirst, 1u);
    EXPECT_EQ(FreeSpaceSectors(f.run), 22u * 4);
    // Large free space counts whole gaps of at least a big file's clusters.
    f.geo.BigFileClusters = 17;
    EXPECT_EQ(LargeFreeSectors(f.run), 17u * 4);

    FatFixture full(20);
    full.Run(2, 20);
    FAT_FREE_Segs(full.run);
    EXPECT_EQ(full.model.GapCount, 0u);
    uint32_t block = 0;
    EXPECT_EQ(FAT_Available(full.run, 1, block, 0), 0u);
}

TEST(FreeGapsTest, ManyGapsGrowTheList) {
    FatFixture f(5000);
    for (uint32_t c = 2; c <= 5001; c += 2)
        f.model.Fat[c] = kFatEnd;
    FAT_FREE_Segs(f.run);
    EXPECT_EQ(f.model.GapCount, 2500u);
    EXPECT_EQ(f.model.GapStart[2500], 5001u);
}

TEST(FreeGapsTest, FirstFitAboveLoTakesTheEndOfAStraddlingGap) {
    FatFixture f(100);
    f.Run(2, 8);    // gap 10..19
    f.Run(20, 10);  // gap 30..101
    FAT_FREE_Segs(f.run);
    uint32_t block = 0;
    EXPECT_EQ(FAT_Available(f.run, 5, block, 0), 1u);
    EXPECT_EQ(block, 10u);
    EXPECT_EQ(FAT_Available(f.run, 4, block, 14), 1u);
    EXPECT_EQ(block, 16u);  // the last four clusters of the gap
    EXPECT_EQ(FAT_Available(f.run, 11, block, 0), 2u);
    EXPECT_EQ(block, 30u);

    ASSERT_TRUE(FAT_Allocate(f.run, 4, block, 14));
    EXPECT_EQ(Gaps(f.model), (G{{10, 6}, {30, 72}}));
    ASSERT_TRUE(FAT_Allocate(f.run, 6, block, 0));
    EXPECT_EQ(Gaps(f.model), (G{{16, 0}, {30, 72}}));
    EXPECT_FALSE(FAT_Allocate(f.run, 73, block, 0));
}

TEST(FreeGapsTest, FreedRunsJoinInsertAndAppend) {
    FatFixture f(200);
    f.Run(2, 200);
    f.model.GapStart.assign(4, 0);
    f.model.GapLen.assign(4, 0);
    f.model.GapCount = 0;

    FAT_Free_Run(f.run, 50, 5);  // into an empty list
    EXPECT_EQ(Gaps(f.model), (G{{50, 5}}));
    FAT_Free_Run(f.run, 100, 10);  // beyond the last gap
    EXPECT_EQ(Gaps(f.model), (G{{50, 5}, {100, 10}}));
    FAT_Free_Run(f.run, 10, 5);  // before the first
    FAT_Free_Run(f.run, 70, 5);  // between two
    EXPECT_EQ(Gaps(f.model), (G{{10, 5}, {50, 5}, {70, 5}, {100, 10}}));
    FAT_Free_Run(f.run, 45, 5);  // ends where a gap begins
    EXPECT_EQ(Gaps(f.model), (G{{10, 5}, {45, 10}, {70, 5}, {100, 10}}));
    FAT_Free_Run(f.run, 55, 15);  // touches both sides: three become one
    EXPECT_EQ(Gaps(f.model), (G{{10, 5}, {45, 30}, {100, 10}}));
    FAT_Free_Run(f.run, 110, 2);  // begins where the last gap ends
    EXPECT_EQ(Gaps(f.model), (G{{10, 5}, {45, 30}, {100, 12}}));
}

TEST(FreeGapsTest, FreeNeighboursStayInsideTheVolume) {
    FatFixture f(10);  // clusters 2..11
    f.Run(3, 8);       // 3..10 used; 2 and 11 free
    EXPECT_EQ(FAT_Q(f.run, 3, 8), 2);
    EXPECT_EQ(FAT_Q(f.run, 2, 1), 0);  // cluster 1 is never looked at; 3 is used
    f.model.Fat[11] = 0;
    EXPECT_EQ(FAT_Q(f.run, 11, 1), 0);  // nothing after the last cluster
    f.model.Fat[10] = 0;
    EXPECT_EQ(FAT_Q(f.run, 11, 1), 1);
}

}  // namespace
}  // namespace kestra::fat
