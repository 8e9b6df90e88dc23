#include "engine/pack_pass.h"

#include <gtest/gtest.h>

#include "engine/mover.h"
#include "pack_fixture.h"

namespace kestra::engine {
namespace {

using image::FatImage;
using image::ImageBuilder;
using image::ImageOptions;
using testing::NodeId;

// A floppy whose first 98 clusters hold one file; each test lays out the rest.
struct Walk {
    ImageBuilder b{ImageOptions::Floppy1440()};
    ClusterPlan l{b, 2};
    Walk() { l.File(b.Root(), 98); }
    NodeId File(uint32_t clusters) { return l.File(b.Root(), clusters); }

    // Whether the first gap starts with a slide, then a whole pass: where the
    // watched files start afterwards.
    std::vector<uint32_t> Pack(const std::vector<NodeId>& watched, bool slides,
                               bool packed = true) {
        const FatImage built = b.Build();
        PackFixture f(built);
        std::vector<uint32_t> records, starts;
        for (NodeId n : watched)
            records.push_back(f.RecordOf(built, n));
        PackCandidates c = f.Candidates();
        uint32_t pick = 0;
        EXPECT_EQ(FAT_Slide_Next(f.engine, 1, c, pick), slides);
        FAT_RemoveHoles(f.engine);
        EXPECT_FALSE(f.flags.RunError) << f.flags.ErrText;
        EXPECT_TRUE(!packed || FreeSpaceAtTheEnd(f));
        EXPECT_TRUE(SoundAndIntact(f, built));
        for (uint32_t r : records)
            starts.push_back(f.StartOf(r));
        return starts;
    }
};

TEST(PackPassEdges, TheFileRightAfterAGapSlidesDownAndTheGapMovesUp) {
    // A gap of 10, a 6-cluster file, a gap of 84, an 8-cluster file, free space.
    Walk w;
    w.l.Skip(10);
    const NodeId sixNode = w.File(6);
    w.l.MoveTo(200);
    const NodeId eightNode = w.File(8);
    const FatImage built = w.b.Build();
    PackFixture f(built);
    const uint32_t six = f.RecordOf(built, sixNode);
    const uint32_t eight = f.RecordOf(built, eightNode);
    ASSERT_EQ(f.Gaps()[0], Gap(100, 10));

    // No 10-cluster file: the exact search finds none; the 6-cluster file,
    // the first of only two candidates, is the one to slide.
    PackCandidates c = f.Candidates();
    uint32_t pick = 0;
    EXPECT_FALSE(FAT_Best_Fit(f.engine, 10, 100, c, true, pick));
    ASSERT_TRUE(FAT_Slide_Next(f.engine, 1, c, pick));
    EXPECT_EQ(pick, six);

    uint32_t g = 1, glen = 10, gstart = 100;
    ASSERT_TRUE(FAT_Moveit(f.engine, g, pick, glen, gstart));
    EXPECT_EQ(f.StartOf(six), 100u);
    EXPECT_EQ(gstart, 106u);  // up by 6, joined with the gap above
    EXPECT_EQ(glen, 94u);

    // The rest of the pass slides the 8-cluster file, the last candidate, too.
    f.Gaps();
    FAT_RemoveHoles(f.engine);
    EXPECT_EQ(f.StartOf(eight), 106u);
    EXPECT_TRUE(FreeSpaceAtTheEnd(f));
    EXPECT_TRUE(SoundAndIntact(f, built));
}

// No slide: the largest file that fits fills the gap; the 6-cluster file stays.
TEST(PackPassEdges, ACrowdedBlockBeforeASmallGapIsFilledFromElsewhere) {
    Walk w;
    w.l.Skip(10);  // gap 100 .. 109
    const NodeId six = w.File(6);
    for (int k = 0; k < 7; ++k)
        w.File(2);
    w.l.Skip(2);  // a small gap after the 20-cluster block
    w.File(60);
    w.l.Skip(40);
    const NodeId seven = w.File(7);
    EXPECT_EQ(w.Pack({seven, six}, false, false), (std::vector<uint32_t>{100, 110}));
}

TEST(PackPassEdges, AGapOver64ClustersTakesTheSlideNotTheExactSize) {
    Walk w;
    w.l.Skip(70);  // gap 100 .. 169
    const NodeId five = w.File(5);
    w.l.MoveTo(300);
    const NodeId seventy = w.File(70);
    EXPECT_EQ(w.Pack({five, seventy}, true), (std::vector<uint32_t>{100, 105}));
}

// After sixteen slides the gap lies at 132 and takes the 8-cluster file.
TEST(PackPassEdges, SixteenSlidesThatKeepTheGapTurnToAFileFromElsewhere) {
    Walk w;
    w.l.Skip(10);  // gap 100 .. 109, then twenty 2-cluster files
    for (int k = 0; k < 20; ++k)
        w.File(2);
    w.l.MoveTo(1200);  // the next gap takes many slides of the block
    EXPECT_EQ(w.Pack({w.File(8)}, true), std::vector<uint32_t>{132});
}

// Three 5-cluster files above a gap: at 400 hemmed in, at 300 with free
// space on both sides, at 200 hemmed in; and one fragmented file.
TEST(PackPassBestFit, FirstFitWhileFragmentedFilesWaitElseFreeNeighboursWin) {
    ImageBuilder b(ImageOptions::Floppy1440());
    ClusterPlan l(b, 2);
    l.File(b.Root(), 98);
    l.MoveTo(120);
    l.Pieces(b.Root(), {{120, 4}, {600, 4}});
    for (uint32_t at : {199u, 399u}) {
        l.MoveTo(at);
        l.File(b.Root(), 1);
        l.File(b.Root(), 5);
        l.File(b.Root(), 1);
    }
    l.MoveTo(300);
    l.File(b.Root(), 5);
    const FatImage built = b.Build();

    for (const bool waiting : {true, false}) {
        PackFixture f(built);
        ASSERT_EQ(f.counters.FragmentedToDo, 1u);
        if (!waiting) f.counters.FragmentedToDo = 0;
        PackCandidates c = f.Candidates();
        ASSERT_EQ(f.ClassStarts(c, 5), (std::vector<uint32_t>{400, 300, 200}));

        uint32_t pick = 0;
        ASSERT_TRUE(FAT_Best_Fit(f.engine, 5, 100, c, false, pick));
        const uint32_t chosen = waiting ? 400 : 300;
        EXPECT_EQ(f.StartOf(pick), chosen);
        // The pick is queued as if it already lay at the gap: after the files
        // still above it.
        std::vector<uint32_t> order = {400, 300, 200};
        std::erase(order, chosen);
        order.push_back(chosen);
        EXPECT_EQ(f.ClassStarts(c, 5), order);
        // Nothing of 6 clusters or more is taken, and exact asks for exact.
        EXPECT_FALSE(FAT_Best_Fit(f.engine, 7, 100, c, true, pick));
        EXPECT_FALSE(FAT_Best_Fit(f.engine, 5, 450, c, false, pick));
    }
}

}  // namespace
}  // namespace kestra::engine
