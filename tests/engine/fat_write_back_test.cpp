#include "engine/fat_write_back.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fat/fat_table.h"
#include "write_back_fixture.h"

namespace kestra::engine {
namespace {

using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;
using Writes = std::vector<std::pair<uint64_t, uint32_t>>;

std::vector<uint8_t> Content(uint32_t seed, size_t n) {
    return SeededBytes(seed, n);
}

uint64_t FatOffset(const image::Layout& l, uint32_t cluster, uint32_t copy) {
    return uint64_t{l.FatStartSector(copy)} * 512 + uint64_t{cluster} * 4;
}
uint32_t Raw32(const std::vector<uint8_t>& b, const image::Layout& l, uint32_t c, uint32_t copy) {
    uint32_t v = 0;
    std::memcpy(&v, &b[FatOffset(l, c, copy)], 4);
    return v;
}
void SetRaw32(std::vector<uint8_t>& b, const image::Layout& l, uint32_t c, uint32_t v) {
    for (uint32_t copy = 0; copy < l.numFats; ++copy)
        std::memcpy(&b[FatOffset(l, c, copy)], &v, 4);
}

TEST(WriteBackFatTest, Fat12MoveWritesThePackedSectorsAroundAStraddlingEntry) {
    ImageBuilder b(ImageOptions::Floppy1440());
    const auto frag =
        b.AddFile(b.Root(), "Fragmented file.bin", Content(1, 6 * 512 - 100), {{40, 3}, {60, 3}});
    b.AddFile(b.Root(), "KEEP.TXT", Content(2, 700), {{338, 1}, {345, 1}});
    const image::FatImage built = b.Build();
    WriteBackFixture f(built);

    // Entries 339..344 lie in bytes 508..517: entry 341 takes bytes 511 and 512.
    const size_t mark = f.fake->Trace().size();
    ASSERT_TRUE(f.Move(f.RecordOf(built, frag), 339)) << f.flags.ErrText;
    const Writes w = f.WritesSince(mark);
    ASSERT_EQ(w.size(), 2u + 6u + 1u + 4u);
    EXPECT_EQ(w[0], std::make_pair(uint64_t{1}, 2u));   // copy 1, sectors 0 and 1
    EXPECT_EQ(w[1], std::make_pair(uint64_t{10}, 2u));  // copy 2
    // Freeing each old extent rewrites sector 0 of each copy, copy 1 first.
    EXPECT_EQ(w[9], std::make_pair(uint64_t{1}, 1u));
    EXPECT_EQ(w[10], std::make_pair(uint64_t{10}, 1u));

    const image::FatImage now = f.Now(built);
    EXPECT_EQ(now.Chain(339), (std::vector<uint32_t>{339, 340, 341, 342, 343, 344}));
    EXPECT_EQ(now.FatEntry(338), 345u);  // the neighbours' nibbles are untouched
    EXPECT_EQ(now.FatEntry(345), now.layout().EndOfChain());
    EXPECT_TRUE(SoundAndIntact(f, built));
}

TEST(WriteBackFatTest, Fat16WritesOneSectorPerCopyOrTwoAcrossABoundary) {
    ImageBuilder b(ImageOptions::Fat16());
    const auto inside =
        b.AddFile(b.Root(), "INSIDE.BIN", Content(3, 4 * 1024), {{300, 2}, {320, 2}});
    const auto across =
        b.AddFile(b.Root(), "ACROSS.BIN", Content(4, 5 * 1024), {{600, 2}, {700, 3}});
    const image::FatImage built = b.Build();
    WriteBackFixture f(built);
    const uint64_t copy1 = f.geo.FatStartSector;
    const uint64_t copy2 = copy1 + f.geo.FatSectors;

    size_t mark = f.fake->Trace().size();
    ASSERT_TRUE(f.Move(f.RecordOf(built, inside), 400)) << f.flags.ErrText;
    Writes w = f.WritesSince(mark);
    EXPECT_EQ(w[0], std::make_pair(copy1 + 1, 1u));
    EXPECT_EQ(w[1], std::make_pair(copy2 + 1, 1u));

    mark = f.fake->Trace().size();
    ASSERT_TRUE(f.Move(f.RecordOf(built, across), 510)) << f.flags.ErrText;
    w = f.WritesSince(mark);
    EXPECT_EQ(w[0], std::make_pair(copy1 + 1, 2u));
    EXPECT_EQ(w[1], std::make_pair(copy2 + 1, 2u));
    // The old extents 600.. and 700.. lie in sector 2, each freed in both copies.
    EXPECT_EQ(w[w.size() - 4], std::make_pair(copy1 + 2, 1u));
    EXPECT_EQ(w[w.size() - 1], std::make_pair(copy2 + 2, 1u));
    EXPECT_TRUE(SoundAndIntact(f, built));

    // A new chain over a used cluster (400 is INSIDE.BIN's now) writes nothing.
    const std::vector<uint32_t> before = f.model.Fat;
    const uint64_t writes = f.fake->Writes();
    EXPECT_FALSE(Synch_Fat1(f.run, 398, 8));
    EXPECT_EQ(f.flags.ErrText, "Invalid MarkChain");
    EXPECT_EQ(f.fake->Writes(), writes);
    EXPECT_EQ(f.model.Fat, before);
    // A failed write of the second copy is reported.
    f.flags = {};
    f.fake->Script().failWriteSector = copy2 + 1;
    EXPECT_FALSE(Synch_Mem_To_Fat(f.run, 400, 2));
    EXPECT_EQ(f.flags.ErrText, "Error writing drive");
}

TEST(WriteBackFatTest, Fat32KeepsTheTopFourBitsAndFindsEntriesThroughTheRootsExtents) {
    ImageBuilder b(ImageOptions::Fat32());
    b.SetRootRuns({{2, 1}, {50, 1}});  // the root's second cluster holds later entries
    for (int i = 0; i < 17; ++i)
        b.AddFile(b.Root(), "F" + std::to_string(i) + ".TXT", Content(10 + i, 100));
    const auto late = b.AddFile(b.Root(), "LATE.BIN", Content(6, 2048), {{1000, 2}, {1100, 2}});
    b.AddFile(b.Root(), "NEIGHBOR.BIN", Content(7, 512), {{1250, 1}});
    image::FatImage built = b.Build();
    const image::Layout& l = built.layout();
    // Top bits on a neighbour in the target's FAT sector, on the free target and
    // on the old chain.
    SetRaw32(built.bytes(), l, 1250, 0x1FFFFFFF);
    for (uint32_t c = 1200; c < 1204; ++c)
        SetRaw32(built.bytes(), l, c, 0x20000000);
    SetRaw32(built.bytes(), l, 1000, 0x30000000 | 1001);
    WriteBackFixture f(built);
    ASSERT_GE(f.model.FileTab[f.RecordOf(built, late)].EntryNo, 16u);

    ASSERT_TRUE(f.Move(f.RecordOf(built, late), 1200)) << f.flags.ErrText;
    const std::vector<uint8_t>& now = f.Bytes();
    for (uint32_t copy = 0; copy < 2; ++copy) {
        EXPECT_EQ(Raw32(now, l, 1200, copy), 0x20000000u | 1201);
        EXPECT_EQ(Raw32(now, l, 1203, copy), 0x2FFFFFFFu);
        EXPECT_EQ(Raw32(now, l, 1250, copy), 0x1FFFFFFFu);
        EXPECT_EQ(Raw32(now, l, 1000, copy), 0x30000000u);
        EXPECT_EQ(Raw32(now, l, 1101, copy), 0u);
    }
    EXPECT_TRUE(SoundAndIntact(f, built));
}

TEST(WriteBackFatTest, ReadingBackTakesTheVolumesEntriesAndAFailedReadChangesNothing) {
    ImageBuilder b(ImageOptions::Floppy1440());
    b.AddFile(b.Root(), "A.BIN", Content(8, 512), {{341, 1}});
    const image::FatImage built = b.Build();
    WriteBackFixture f(built);

    // Another program links 341 on to 342 and takes 343 (FAT12: 341 straddles).
    image::FatImage other = f.Now(built);
    other.SetFatEntry(341, 342);
    other.SetFatEntry(343, 0xFFF);
    f.Bytes() = other.bytes();
    ASSERT_TRUE(Synch_Fat_To_Mem(f.run, 341, 2));
    EXPECT_EQ(f.model.Fat[341], 342u);
    EXPECT_EQ(f.model.Fat[342], 0u);
    EXPECT_EQ(f.model.Fat[343], 0u);  // outside the run: the memory stays as it was
    // Written back, the sector carries the other program's entry 343 too.
    ASSERT_TRUE(Synch_Mem_To_Fat(f.run, 341, 1));
    EXPECT_EQ(f.Now(built).FatEntry(343, 1), 0xFFFu);

    const std::vector<uint32_t> before = f.model.Fat;
    f.fake->Script().failReadCall = f.fake->Reads() + 1;
    EXPECT_FALSE(Synch_Fat_To_Mem(f.run, 2, 400));
    EXPECT_EQ(f.flags.ErrText, "Error reading drive");
    EXPECT_EQ(f.flags.AbortRun, 1);
    EXPECT_EQ(f.model.Fat, before);
}

// Marks narrow to the raw width and widen back; FAT12 neighbours sharing a byte
// are covered by the straddling move above.
TEST(WriteBackFatTest, RawImagesNarrowAndWidenMarks) {
    fat::VolumeModel m;
    const std::vector<uint32_t> wide = {0,          0,     0x0FFFFFF8, 0x0FFFFFFF,
                                        0x0FFFFFF7, 0x123, 0x0FFFFFF0};
    m.Fat = wide;
    m.Fat16Buffer.assign(7, 0);
    FatToBuffer16(m, 2, 6);
    EXPECT_EQ(m.Fat16Buffer, (std::vector<uint16_t>{0, 0, 0xFFF8, 0xFFFF, 0xFFF7, 0x123, 0xFFF0}));
    m.Fat12Buffer.assign(12, 0);
    FatToBuffer12(m, 2, 6);
    for (auto fromBuffer : {&BufferToFat16, &BufferToFat12}) {
        m.Fat.assign(7, 0);
        fromBuffer(m, 2, 6, 6);
        EXPECT_EQ(m.Fat, wide);
    }
    // On the largest FAT12 and FAT16 volumes those values are cluster numbers.
    EXPECT_EQ(fat::WidenFat12(0xFF0, 0xFF5), 0xFF0u);
    EXPECT_EQ(fat::WidenFat12(0xFF6, 0xFF5), 0x0FFFFFF6u);
    EXPECT_EQ(fat::WidenFat16(0xFFF5, 0xFFF5), 0xFFF5u);
}

}  // namespace
}  // namespace kestra::engine
