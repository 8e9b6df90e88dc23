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
