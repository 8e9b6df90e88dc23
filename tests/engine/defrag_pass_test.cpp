#include "engine/defrag_pass.h"

#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace kestra::engine {
namespace {

using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;

TEST(DefragPassTest, SortKeepsEqualKeysInOrder) {
    std::vector<MoveCandidate> list = {{9, 1}, {3, 2}, {9, 3}, {1, 4}, {3, 5}, {7, 6}};
    SortByStart(list);
    std::vector<uint32_t> order;
    for (const auto& c : list)
        order.push_back(c.index);
    EXPECT_EQ(order, (std::vector<uint32_t>{4, 2, 5, 6, 1, 3}));
}

TEST(DefragPassTest, FragmentedFilesBecomeContiguousLowestStartFirst) {
    ImageBuilder b(ImageOptions::Floppy1440());
    b.AddFile(b.Root(), "LATE.BIN", SeededBytes(1, 2 * 512), {{900, 1}, {950, 1}});
    b.AddFile(b.Root(), "EARLY.BIN", SeededBytes(2, 2 * 512), {{800, 1}, {850, 1}});
    b.AddFile(b.Root(), "FIXED.BIN", SeededBytes(3, 2 * 512), {{700, 1}, {750, 1}},
              image::EntryOptions::WithAttributes(format::kAttrSystem));
    image::FatImage built = b.Build();
    testing::SetEntrySize(built, built.Find("/FIXED.BIN"), 5000);  // does not fit: fixed
    EngineFixture f(built);
    const uint32_t early = f.RecordAt(800), late = f.RecordAt(900);
    // The fixed file still counts as to do: only busy files are taken off.
    EXPECT_EQ(FAT_Defrag(f.engine), 1u);
    EXPECT_EQ(f.model.FileTab[early].Frags, 1);
    EXPECT_EQ(f.model.FileTab[late].Frags, 1);
    // First fit from the start, in order of the old first cluster.
    EXPECT_LT(f.model.FileTab[early].StartCluster, f.model.FileTab[late].StartCluster);
    EXPECT_EQ(f.model.FileTab[f.RecordAt(700)].Frags, 2);  // a fixed file never moves
    EXPECT_EQ(f.counters.MovedFiles, 2u);
    EXPECT_EQ(f.report.RunWindow.Tags.TagText1, "Defrag:");
}

TEST(DefragPassTest, WithNoRoomEverySweepStopsAndTheFilesStay) {
    // Only single clusters are free, so no fragmented file fits anywhere.
    ImageBuilder b(ImageOptions::Floppy1440());
    b.AddFile(b.Root(), "A.BIN", SeededBytes(1, 3 * 512), {{10, 2}, {20, 1}});
    b.AddFile(b.Root(), "B.BIN", SeededBytes(2, 2 * 512), {{30, 1}, {40, 1}});
    const image::Runs rest = {{2, 3},  {6, 4},  {12, 3}, {16, 4},   {21, 4},
                              {26, 4}, {31, 4}, {36, 4}, {41, 2808}};
    uint32_t clusters = 0;
    for (const auto& r : rest)
        clusters += r.length;
    b.AddFile(b.Root(), "REST.BIN", SeededBytes(3, clusters * 512), rest);
    EngineFixture f(b.Build());
    ASSERT_EQ(f.counters.FragmentedToDo, 3u);
    const uint64_t writes = f.fake->Writes();
    EXPECT_EQ(FAT_Defrag(f.engine), 3u);
    EXPECT_EQ(f.counters.MovedFiles, 0u);
    EXPECT_EQ(f.fake->Writes(), writes);
}

TEST(DefragPassTest, NothingToDoMovesNothing) {
    ImageBuilder b(ImageOptions::Floppy1440());
    b.AddFile(b.Root(), "A.BIN", SeededBytes(1, 3 * 512), {{10, 3}});
    const image::FatImage built = b.Build();
    EngineFixture f(built);
    const uint64_t writes = f.fake->Writes();
    EXPECT_EQ(FAT_Defrag(f.engine), 0u);
    EXPECT_EQ(f.fake->Writes(), writes);
    EXPECT_EQ(f.report.RunWindow.Tags.TagText2, "Frag.Files:");
}

TEST(DefragPassTest, PartlyFreeEmptyBoxesTurnPartial) {
    // 150,000 clusters: 53 a box, so "at most 2 percent" is one free cluster.
    ImageBuilder b(image::OptionsForClusterCount(image::FatType::kFat32, 150000));
    b.AddFile(b.Root(), "A.BIN", SeededBytes(1, 512), {{1000, 1}});
    const image::FatImage built = b.Build();
    EngineFixture f(built);
    const int64_t scale = f.map.MapScale;
    ASSERT_GT(scale, 50);  // so that a few free clusters count as "at most 2 percent"
    const int64_t full = 3000 / scale, partial = 2000 / scale, nearly = 5000 / scale;
    for (int64_t box : {full, partial, nearly})
        f.map.MapBoxes[box] = display::kBoxEmpty;
    // Box `nearly` keeps all but one cluster used.
    f.model.GapStart = {0, static_cast<uint32_t>(full * scale),
                        static_cast<uint32_t>(partial * scale),
                        static_cast<uint32_t>(nearly * scale)};
    f.model.GapLen = {0, static_cast<uint32_t>(scale), 1, 1};
    f.model.GapCount = 3;
    f.model.GapFirst = 1;
    FAT_Show_Partial_Blocks(f.engine);
    EXPECT_EQ(f.map.MapBoxes[full], display::kBoxEmpty);
    EXPECT_EQ(f.map.MapBoxes[partial], display::kBoxEmpty);  // 1 free: at most 2 percent
    EXPECT_EQ(f.map.MapBoxes[nearly], display::kBoxEmpty);
    f.model.GapLen[2] = static_cast<uint32_t>(scale / 2);
    FAT_Show_Partial_Blocks(f.engine);
    EXPECT_EQ(f.map.MapBoxes[partial], display::kBoxPartial);
    EXPECT_NE(f.map.MapBoxes[1000 / scale], display::kBoxPartial);  // not Empty: untouched
}

}  // namespace
}  // namespace kestra::engine
