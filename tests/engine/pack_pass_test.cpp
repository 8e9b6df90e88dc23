#include "engine/pack_pass.h"

#include <gtest/gtest.h>

#include "pack_fixture.h"

namespace kestra::engine {
namespace {

using image::FatImage;
using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;
using testing::NodeId;

// Files, folders and a few fragmented files strewn with gaps over the low
// part of the volume, one-cluster files on top to fill what is left.
FatImage Scattered(const ImageOptions& options, uint32_t first) {
    ImageBuilder b(options);
    ClusterPlan l(b, first);
    const NodeId docs = l.Folder(b.Root(), "DOCS", 6);
    l.Skip(2);
    const NodeId inner = l.Folder(docs, "INNER", 2);
    l.Skip(1);
    const NodeId deep = l.Folder(inner, "DEEP");
    uint32_t seed = 7;
    auto rnd = [&seed](uint32_t mod) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % mod;
    };
    const uint32_t sizes[] = {1, 1, 2, 3, 5, 8, 13};
    uint32_t tails = first + 500;
    for (int k = 0; k < 40; ++k) {
        l.Skip(rnd(4));
        const uint32_t size = sizes[rnd(7)];
        const NodeId parent = k % 3 == 1 ? docs : (k % 5 == 2 ? inner : (k % 7 == 3 ? deep : 0));
        if (k % 9 == 4) {
            // Starting on top, so the pass may take it whole into a gap.
            l.Pieces(parent, {{tails, 2}, {l.At(), size}});
            tails += 3;
        } else {
            l.File(parent, size);
        }
    }
    l.MoveTo(tails + 4);
    for (int k = 0; k < 80; ++k)
        l.File(k % 2 ? docs : b.Root(), 1);
    return b.Build();
}

TEST(PackPassVolumes, EveryFatTypePacksToOneGapAtTheEnd) {
    const ImageOptions volumes[] = {ImageOptions::Floppy1440(), ImageOptions::Fat16(16384, 2),
                                    ImageOptions::Fat32()};
    for (const ImageOptions& options : volumes) {
        const FatImage built = Scattered(options, 30);
        SCOPED_TRACE(image::FatTypeName(built.type()));
        PackFixture f(built);
        ASSERT_GT(f.model.GapCount, 20u);
        ASSERT_NE(f.counters.FragmentedToDo, 0u);

        // Each fragmented file starts on top and is taken whole into a gap.
        FAT_RemoveHoles(f.engine);
        EXPECT_FALSE(f.flags.RunError) << f.flags.ErrText;
        EXPECT_EQ(f.counters.FragmentedToDo, 0u);
        EXPECT_GT(f.counters.MovedFiles, 40u);
        EXPECT_TRUE(SoundAndIntact(f, built));
        // Their old low pieces free up behind the walk; the second pack of a
        // run closes those too.
        fat::FAT_FREE_Segs(f.run);
        FAT_RemoveHoles(f.engine);
        EXPECT_FALSE(f.flags.RunError) << f.flags.ErrText;
        EXPECT_TRUE(FreeSpaceAtTheEnd(f));
        EXPECT_TRUE(SoundAndIntact(f, built));
    }
}

TEST(PackPassVolumes, AFixedFileStandsInTheWayAndTheRestPacksAboveIt) {
    ImageBuilder b(ImageOptions::Fat16(16384, 2));
    ClusterPlan l(b, 2);
    l.File(b.Root(), 8);
    l.Skip(5);  // nothing above is small enough for this gap
    const NodeId fixed = l.File(b.Root(), 4);
    l.Skip(6);
    for (int k = 0; k < 12; ++k)
        l.File(b.Root(), 6);
    const FatImage built = b.Build();
    PackFixture f(built);
    const uint32_t rec = f.RecordOf(built, fixed);
    f.model.FileFixed[rec] = 255;  // as the scan marks a file in use

    FAT_RemoveHoles(f.engine);
    EXPECT_FALSE(f.flags.RunError) << f.flags.ErrText;
    EXPECT_EQ(f.StartOf(rec), 15u);
    const std::vector<Gap> gaps = f.Gaps();
    ASSERT_EQ(gaps.size(), 2u) << Describe(gaps);
    EXPECT_EQ(gaps[0], Gap(10, 5));
    EXPECT_EQ(gaps[1].first + gaps[1].second - 1, f.counters.LastCluster);
    EXPECT_TRUE(SoundAndIntact(f, built));
}

TEST(PackPassEdges, AFullVolumePacksNothing) {
    ImageOptions options = ImageOptions::Floppy1440();
    ImageBuilder b(options);
    ClusterPlan l(b, 2);
    const uint32_t last = image::ComputeLayout(options).MaxCluster();
    while (l.At() + 300 <= last + 1)
        l.File(b.Root(), 300);
    l.File(b.Root(), last + 1 - l.At());
    const FatImage built = b.Build();
    PackFixture f(built);
    ASSERT_EQ(f.model.GapCount, 0u);

    const size_t mark = f.fake->Trace().size();
    FAT_RemoveHoles(f.engine);
    EXPECT_FALSE(f.flags.RunError);
    EXPECT_EQ(f.counters.MovedFiles, 0u);
    EXPECT_TRUE(f.WritesSince(mark).empty());
    EXPECT_TRUE(SoundAndIntact(f, built));
}

// A volume cut after any write of a pack holds every file as it was; at worst
// clusters are lost.
TEST(PackPassEdges, ACutAfterAnyWriteKeepsEveryFile) {
    ImageBuilder b(ImageOptions::Floppy1440());
    ClusterPlan l(b, 2);
    l.File(b.Root(), 20);
    l.Skip(6);
    const NodeId docs = l.Folder(b.Root(), "DOCS");
    l.File(docs, 3);
    l.Skip(4);
    l.File(docs, 2);
    l.Pieces(b.Root(), {{300, 2}, {l.At(), 1}});
    l.MoveTo(200);
    l.File(b.Root(), 6);
    const FatImage built = b.Build();
    uint64_t total = 0;
    {
        PackFixture f(built);
        FAT_RemoveHoles(f.engine);
        ASSERT_FALSE(f.flags.RunError) << f.flags.ErrText;
        ASSERT_TRUE(FreeSpaceAtTheEnd(f));
        total = f.fake->Writes();
    }
    ASSERT_GE(total, 20u);
    for (uint64_t cut = 0; cut < total; ++cut) {
        PackFixture f(built);
        f.fake->Script().crashAfterWrites = cut;
        FAT_RemoveHoles(f.engine);
        EXPECT_TRUE(f.flags.RunError) << "cut at write " << cut;
        EXPECT_TRUE(testing::ReadsBackIdentical(built, f.Save())) << "cut at write " << cut;
    }
}

// A folder that moves keeps its dot entries right; compacting drops erased
// entries and nothing else.
TEST(PackPassFolders, MovedFoldersKeepTheirDotsAndErasedEntriesGo) {
    const ImageOptions volumes[] = {ImageOptions::Floppy1440(), ImageOptions::Fat16(16384, 2),
                                    ImageOptions::Fat32()};
    for (const ImageOptions& options : volumes) {
        ImageBuilder b(options);
        b.AddErased(b.Root(), {"ROOTGONE.TXT"});
        ClusterPlan l(b, 10);
        l.Skip(12);
        const NodeId outer = l.Folder(b.Root(), "OUTER", 2);
        l.Skip(3);
        const NodeId inner = l.Folder(outer, "INNER");
        b.AddErased(outer, {"GONE.TXT"});
        for (int k = 0; k < 6; ++k) {
            l.File(k % 2 ? outer : inner, 1 + k);
            if (k == 2) b.AddErased(inner, {"Erased with a long name.txt"});
        }
        const FatImage built = b.Build();
        SCOPED_TRACE(image::FatTypeName(built.type()));
        PackFixture f(built);
        const uint32_t outerRec = f.RecordOf(built, outer);
        const uint32_t innerRec = f.RecordOf(built, inner);
        ASSERT_NE(f.counters.ErasedEntryCount, 0u);

        FAT_RemoveHoles(f.engine);
        EXPECT_FALSE(f.flags.RunError) << f.flags.ErrText;
        EXPECT_LT(f.StartOf(outerRec), 22u);
        EXPECT_LT(f.StartOf(innerRec), 27u);
        EXPECT_TRUE(SoundAndIntact(f, built));

        FAT_Pack_Dirs(f.engine);
        EXPECT_FALSE(f.flags.RunError) << f.flags.ErrText;
        const int64_t root = f.geo.IsFat32 ? disk::ClusterToSector(f.geo, f.geo.RootCluster)
                                           : disk::RootDirSector(f.geo);
        for (const int64_t sector : {root, disk::ClusterToSector(f.geo, f.StartOf(outerRec)),
                                     disk::ClusterToSector(f.geo, f.StartOf(innerRec))}) {
            for (uint32_t e = 0; e < 16; ++e) {
                EXPECT_NE(f.Bytes()[sector * 512 + e * 32], fat::kErasedMark)
                    << "sector " << sector << " entry " << e;
            }
        }
        EXPECT_TRUE(SoundAndIntact(f, built));
    }
}

TEST(PackPassFolders, FoldersAreLeftAloneOnceTheVolumeWasTouched) {
    ImageBuilder b(ImageOptions::Fat16(16384, 2));
    const NodeId docs = b.AddFolder(b.Root(), "DOCS");
    b.AddErased(docs, {"OLD.TXT"});
    b.AddFile(docs, "NEW.TXT", SeededBytes(1, 700));
    b.AddErased(b.Root(), {"ROOTOLD.TXT"});
    const FatImage built = b.Build();
    PackFixture f(built);
    f.flags.VolumeTouched = true;
    const size_t mark = f.fake->Trace().size();
    FAT_Pack_Dirs(f.engine);
    EXPECT_TRUE(f.WritesSince(mark).empty());
}

}  // namespace
}  // namespace kestra::engine
