#include "engine/mover.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/move_batch.h"
#include "engine_fixture.h"
#include "fat/free_gaps.h"

namespace kestra::engine {
namespace {

using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;

TEST(MoverTest, DataMovesThroughTheBufferInWholeMebibytesGatheringSmallPieces) {
    ImageBuilder b(ImageOptions::Fat16(65536, 4));  // 2 KB clusters
    // 1.5 MiB in one piece, and 20 pieces of one cluster each.
    b.AddFile(b.Root(), "BIG.BIN", SeededBytes(1, 768 * 2048), {{100, 768}});
    image::Runs pieces;
    for (uint32_t k = 0; k < 20; ++k)
        pieces.push_back({2000 + 3 * k, 1});
    b.AddFile(b.Root(), "PIECES.BIN", SeededBytes(2, 20 * 2048 - 5), pieces);
    const image::FatImage built = b.Build();
    EngineFixture f(built);

    fat::Extents ext;
    const uint32_t big = f.RecordAt(100);
    fat::GetExtents(f.run, 100, ext);
    size_t mark = f.fake->Trace().size();
    ASSERT_TRUE(FAT_Move_Fragmented(f.engine, big, ext));
    std::vector<uint32_t> dataWrites;
    for (const auto& [first, count] : f.WritesSince(mark)) {
        if (count >= 512) dataWrites.push_back(count);
    }
    EXPECT_EQ(dataWrites, (std::vector<uint32_t>{2048, 1024}));  // 1 MiB, then the rest

    const uint32_t rec = f.RecordAt(2000);
    fat::GetExtents(f.run, 2000, ext);
    mark = f.fake->Trace().size();
    ASSERT_TRUE(FAT_Move_Fragmented(f.engine, rec, ext));
    ASSERT_TRUE(FlushMoves(f.engine));
    uint32_t large = 0;
    for (const auto& [first, count] : f.WritesSince(mark))
        large += count == 80;
    EXPECT_EQ(large, 1u);  // all twenty pieces in one write
    EXPECT_EQ(f.counters.FragmentedToDo, 0u);
    EXPECT_EQ(f.counters.MovedFiles, 2u);
    EXPECT_EQ(f.model.FileTab[rec].Frags, 1);
    EXPECT_TRUE(f.Sound(built));
}

// Kinds of write since the trace position `from`, in order: F = FAT, D = data,
// E = directory entry, a number = that reserved sector, | = barrier.
std::string Kinds(const EngineFixture& f, size_t from) {
    const int64_t dataStart = f.geo.ClusterBase + 1;
    const auto& barriers = f.fake->Barriers();
    auto b = std::lower_bound(barriers.begin(), barriers.end(), from + 1);
    std::string kinds;
    for (size_t i = from; i < f.fake->Trace().size(); ++i) {
        for (; b != barriers.end() && *b <= i; ++b)
            kinds += '|';
        const platform::Transfer& t = f.fake->Trace()[i];
        const auto s = static_cast<int64_t>(t.first);
        if (!t.write) continue;
        if (s < f.geo.FatStartSector)
            kinds += std::to_string(s);  // the boot sector or its backup
        else
            kinds += s < disk::RootDirSector(f.geo) ? 'F' : s < dataStart ? 'E' : 'D';
    }
    return kinds + std::string(static_cast<size_t>(barriers.end() - b), '|');
}

TEST(MoverTest, MovesShareTheirStepsAndEachStepIsOnTheMediumBeforeTheNext) {
    ImageBuilder b(ImageOptions::Floppy1440());
    b.AddFile(b.Root(), "A.BIN", SeededBytes(1, 3 * 512), {{100, 2}, {200, 1}});
    b.AddFile(b.Root(), "B.BIN", SeededBytes(2, 2 * 512), {{110, 1}, {210, 1}});
    b.AddFile(b.Root(), "C.BIN", SeededBytes(3, 2 * 512), {{120, 1}, {220, 1}});
    const image::FatImage built = b.Build();
    EngineFixture f(built);
    fat::Extents ext;
    size_t mark = f.fake->Trace().size();
    for (const auto& [from, to] : {std::pair{100u, 300u}, {110u, 303u}}) {
        fat::GetExtents(f.run, from, ext);
        ASSERT_TRUE(
            FAT_MOVE_File(f.engine, f.RecordAt(from), ext, ext.Count() + (from == 100), to));
    }
    EXPECT_EQ(Kinds(f, mark), "");  // held until the batch is flushed
    ASSERT_TRUE(FlushMoves(f.engine));
    // Both chains in one FAT sector per copy and both copies in one transfer,
    // behind one barrier (no entry names them yet), both entries in one sector,
    // then the four old extents freed in one sector.
    EXPECT_EQ(Kinds(f, mark), "FFD|E|FF|");
    EXPECT_TRUE(f.Sound(built));

    // A move onto clusters the batch freed lands the batch first; the frees
    // wait for the next batch's new chains.
    mark = f.fake->Trace().size();
    fat::GetExtents(f.run, 120, ext);
    ASSERT_TRUE(FAT_MOVE_File(f.engine, f.RecordAt(120), ext, 2, 400));
    fat::GetExtents(f.run, 300, ext);
    ASSERT_TRUE(FAT_MOVE_File(f.engine, f.RecordAt(300), ext, 3, 120));
    EXPECT_EQ(Kinds(f, mark), "FFD|E|");
    mark = f.fake->Trace().size();
    ASSERT_TRUE(FlushMoves(f.engine));
    EXPECT_EQ(Kinds(f, mark), "FFD|E|FF|");

    // Gathered into two runs: the data is split where the first run ends.
    fat::GetExtents(f.run, 303, ext);
    fat::Extents target;
    target.Starts = {0, 500, 600};
    target.Lens = {0, 1, 1};
    mark = f.fake->Trace().size();
    ASSERT_TRUE(FAT_Move_To_Runs(f.engine, f.RecordAt(303), ext, target));
    ASSERT_TRUE(FlushMoves(f.engine));
    EXPECT_EQ(Kinds(f, mark), "FFDD|E|FF|");
    EXPECT_EQ(f.Now(built).Chain(500), (std::vector<uint32_t>{500, 600}));
    EXPECT_EQ(f.model.FileTab[f.RecordAt(500)].Frags, 2);
    EXPECT_TRUE(f.Sound(built));
}

// Sector 0 first names the new root with no backup beside it (cut there,
// fsck.fat makes the backup from it), then the backup, then sector 0 names the
// backup again: no cut leaves a boot sector naming a chain fsck.fat reclaims.
TEST(MoverTest, TheFat32RootMovesWithSectorZeroStandingAloneWhileTheBackupSwitches) {
    ImageBuilder b(ImageOptions::Fat32(1));
    b.SetRootRuns({{300, 1}, {200, 1}});
    for (int i = 0; i < 20; ++i)
        b.AddFile(b.Root(), "F" + std::to_string(i), SeededBytes(i, 100));
    const image::FatImage built = b.Build();
    EngineFixture f(built);
    fat::Extents ext;
    fat::GetExtents(f.run, 300, ext);
    const size_t mark = f.fake->Trace().size();
    ASSERT_TRUE(FAT_MOVE_File(f.engine, 0, ext, 2, 1000));
    ASSERT_TRUE(FlushMoves(f.engine));
    EXPECT_EQ(Kinds(f, mark), "FFD|0|6|0|FFFF|");  // the old pieces in two FAT sectors
    EXPECT_EQ(f.geo.RootCluster, 1000u);
    const std::vector<uint8_t>& bytes = f.memory->Bytes();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 512, bytes.begin() + 6 * 512));
    EXPECT_EQ(bytes[44] | (bytes[45] << 8), 1000);
    EXPECT_EQ(bytes[50], 6);
    EXPECT_EQ(f.model.FileTab[0].Frags, 1);
    EXPECT_EQ(f.Now(built).Chain(1000), (std::vector<uint32_t>{1000, 1001}));
    EXPECT_TRUE(f.Sound(built));
}

TEST(MoverTest, OnASharedVolumeChangedOrTakenFilesStayWhereTheyAre) {
    ImageBuilder b(ImageOptions::Floppy1440());
    b.AddFile(b.Root(), "A.BIN", SeededBytes(1, 2 * 512), {{100, 1}, {110, 1}});
    b.AddFile(b.Root(), "B.BIN", SeededBytes(2, 2 * 512), {{120, 1}, {130, 1}});
    image::FatImage built = b.Build();
    EngineFixture f(built, /*exclusive=*/false);
    f.fake->Script().allowLock = [](int level) { return level != 0; };
    ASSERT_TRUE(f.io.LockVolume(256));

    // Another program grew A after the scan: it is marked busy, nothing is written.
    testing::SetEntrySize(built, built.Find("/A.BIN"), 5);
    std::copy(built.bytes().begin(), built.bytes().end(), f.memory->Bytes().begin());
    fat::Extents ext;
    fat::GetExtents(f.run, 100, ext);
    const uint64_t writes = f.fake->Writes();
    EXPECT_FALSE(FAT_MOVE_File(f.engine, f.RecordAt(100), ext, 2, 300));
    EXPECT_EQ(f.model.FileFixed[f.RecordAt(100)], 255);
    EXPECT_EQ(f.fake->Writes(), writes);
    EXPECT_EQ(f.lstInuse.back(), "C:\\A.BIN (busy)");

    // Another program took the target run: refused, B not marked busy.
    f.memory->Bytes()[f.geo.FatStartSector * 512 + 300 + 150] = 0xFF;  // FAT12 entry 300
    f.memory->Bytes()[f.geo.FatStartSector * 512 + 300 + 151] |= 0x0F;
    fat::GetExtents(f.run, 120, ext);
    EXPECT_FALSE(FAT_MOVE_File(f.engine, f.RecordAt(120), ext, 2, 300));
    EXPECT_EQ(f.model.FileFixed[f.RecordAt(120)], 0);
    EXPECT_EQ(f.fake->Writes(), writes);
    EXPECT_FALSE(f.flags.DropLocksFlag);
}

}  // namespace
}  // namespace kestra::engine
