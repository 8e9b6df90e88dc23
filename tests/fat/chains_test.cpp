#include "fat/chains.h"

#include <gtest/gtest.h>

#include "fat/fat_table.h"
#include "fat_fixture.h"

namespace kestra::fat {
namespace {

TEST(FatMarksTest, CrossLinksAndLinksBeyondTheVolumeStopTheScan) {
    FatFixture f(100);
    f.Chain({3, 10, 11});
    f.Chain({20, 21});
    FAT_Marks(f.run);
    EXPECT_FALSE(f.flags.RunError);  // free clusters never count as cross-linked
    EXPECT_EQ(f.model.ClusterUse[10], 1);
    EXPECT_EQ(f.model.ClusterUse[3], 0);  // a chain head

    f.model.Fat[20] = 0x10000000 | 11;  // top bits are not part of the link
    FAT_Marks(f.run);
    EXPECT_EQ(f.flags.ErrText, "Crosslinked files");
    EXPECT_TRUE(f.flags.StructureErrorFlag);

    for (const uint32_t link : {102u, 1u}) {  // beyond the volume, or no cluster at all
        FatFixture g(100);
        g.model.Fat[5] = link;
        FAT_Marks(g.run);
        EXPECT_EQ(g.flags.ErrText, "Bad cluster#");
        EXPECT_EQ(g.flags.AbortRun, 1);
    }
}

TEST(ExtentsTest, ChainsBecomeExtentsAndFragmentCounts) {
    FatFixture f(1000);
    f.Chain({10, 11, 20});
    Extents e;
    EXPECT_EQ(GetExtents(f.run, 10, e), 3u);
    EXPECT_EQ(e.Count(), 2u);
    EXPECT_EQ(e.Starts[1], 10u);
    EXPECT_EQ(e.Lens[1], 2u);
    EXPECT_EQ(e.Starts[2], 20u);
    EXPECT_EQ(e.Lens[2], 1u);

    int64_t blks = 0;
    EXPECT_EQ(Fragmented(f.run, 10, blks), 2);
    EXPECT_EQ(blks, 3);
    f.Run(100, 5);
    EXPECT_EQ(Fragmented(f.run, 100, blks), 1);
    EXPECT_EQ(blks, 5);
    EXPECT_EQ(Fragmented(f.run, 0, blks), 0);
    EXPECT_EQ(blks, 5);  // left as it was

    // 300 pieces: every other cluster.
    for (uint32_t c = 400; c < 998; c += 2)
        f.model.Fat[c] = c + 2;
    f.model.Fat[998] = kFatEnd;
    EXPECT_EQ(Fragmented(f.run, 400, blks), 255);
    EXPECT_EQ(blks, 300);
    EXPECT_FALSE(f.flags.RunError);
}

TEST(ExtentsTest, BrokenChainsAreReported) {
    FatFixture f(100);
    f.model.Fat[10] = 11;  // runs into free cluster 11
    Extents e;
    EXPECT_EQ(GetExtents(f.run, 10, e), 2u);
    EXPECT_EQ(f.flags.ErrText, "Invalid chain");

    FatFixture beyond(100);
    Extents e2;
    EXPECT_EQ(GetExtents(beyond.run, 500, e2), 0u);
    EXPECT_EQ(beyond.flags.ErrText, "Invalid cluster");

    FatFixture bad(100);
    bad.model.Fat[10] = 11;
    bad.model.Fat[11] = kFatBad;
    int64_t blks = 0;
    EXPECT_EQ(Fragmented(bad.run, 10, blks), 0);
    EXPECT_EQ(bad.flags.ErrText, "Invalid cluster");
    EXPECT_EQ(bad.flags.ErrSource, "ViewMap");
    EXPECT_TRUE(bad.flags.StructureErrorFlag);
}

TEST(ExtentsTest, LoopsEndAsBadChainsQuickly) {
    // A long loop with one break per turn would take billions of steps if only
    // the fragment limit stopped it.
    FatFixture f(200000);
    f.Run(2, 200000);
    f.model.Fat[200001] = 2;
    f.counters.DefragActive = true;
    int64_t blks = 0;
    EXPECT_EQ(Fragmented(f.run, 2, blks), 0);
    EXPECT_EQ(f.flags.ErrText, "Bad chain");
    EXPECT_EQ(f.flags.ErrSource, "Defrag/Pack");
    EXPECT_TRUE(f.flags.InternalErrorFlag);
    f.flags = {};
    Extents e;
    EXPECT_EQ(GetExtents(f.run, 2, e), 0u);
    EXPECT_EQ(f.flags.ErrText, "Bad chain");

    // During the analysis a long walk lets events run, and a stop ends it there.
    f.flags = {};
    f.counters.DefragActive = false;
    f.model.Fat[200001] = kFatEnd;
    int events = 0;
    f.run.letEventsRun = [&] { f.flags.RunError = ++events == 2; };
    EXPECT_EQ(GetExtents(f.run, 2, e), 0u);
    EXPECT_EQ(events, 2);
    EXPECT_EQ(f.flags.AbortRun, 0);  // a user stop, not an error

    FatFixture g(100);
    g.Chain({5, 6, 7});
    g.model.Fat[7] = 5;
    Mark_Chain(g.run, 5, 13);
    EXPECT_EQ(g.flags.ErrText, "Bad cluster");
    EXPECT_EQ(g.flags.ErrSource, "MarkChain");
}

TEST(MarkChainTest, PaintsEveryClusterAndNewChainsNeedEveryClusterFree) {
    FatFixture f(100);
    f.Chain({4, 5, 9});
    std::vector<std::pair<uint32_t, int>> painted;
    f.run.paint = [&](uint32_t c, int colour) { painted.emplace_back(c, colour); };
    Mark_Chain(f.run, 4, 12);
    ASSERT_EQ(painted.size(), 3u);
    EXPECT_EQ(painted[2], std::make_pair(9u, 12));
    EXPECT_EQ(f.counters.ChainClusters, 3u);
    EXPECT_FALSE(f.flags.RunError);

    // New chains need every cluster free, the last too.
    f.model.Fat[10] = 0xF0000000;  // top bits survive the rewrite
    FAT_Mark_Chain(f.run, 3, 10);
    EXPECT_EQ(f.model.Fat[10], 0xF000000Bu);
    EXPECT_EQ(f.model.Fat[11], 12u);
    EXPECT_EQ(f.model.Fat[12], kFatEnd);
    FAT_Mark_Chain(f.run, 1, 50);
    EXPECT_EQ(f.model.Fat[50], kFatEnd);
    EXPECT_FALSE(f.flags.RunError);

    f.model.Fat[62] = kFatEnd;
    FAT_Mark_Chain(f.run, 3, 60);
    EXPECT_EQ(f.flags.ErrText, "Invalid MarkChain");
    EXPECT_EQ(f.model.Fat[62], kFatEnd);  // the used cluster keeps its value
}

}  // namespace
}  // namespace kestra::fat
