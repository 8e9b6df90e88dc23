#include "engine/dir_write_back.h"

#include <gtest/gtest.h>

#include "engine/mover.h"
#include "write_back_fixture.h"

namespace kestra::engine {
namespace {

using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;
using Writes = std::vector<std::pair<uint64_t, uint32_t>>;

// First cluster held by entry `index` of the first sector of `cluster`.
uint32_t DotStart(WriteBackFixture& f, uint32_t cluster, int index) {
    const uint8_t* e = &f.Bytes()[disk::ClusterToSector(f.geo, cluster) * 512 + index * 32];
    return EntryStart(f.run, e);
}

class WriteBackDirTest : public ::testing::TestWithParam<bool> {
  protected:
    ImageOptions Options() const {
        return GetParam() ? ImageOptions::Fat32() : ImageOptions::Fat16(65536, 1);
    }
};

TEST_P(WriteBackDirTest, MovedFilesAndFoldersKeepTheirEntriesAndDotLinks) {
    ImageBuilder b(Options());
    const auto docs = b.AddFolder(b.Root(), "Project files", {{100, 1}, {130, 1}});
    const auto sub1 = b.AddFolder(docs, "SUB1", {{140, 1}});
    b.AddFile(sub1, "DEEP.BIN", SeededBytes(1, 900), {{150, 2}});
    const auto sub2 = b.AddFolder(docs, "SUB2", {{145, 1}});
    for (int i = 0; i < 12; ++i)
        b.AddFile(docs, "F" + std::to_string(i) + ".TXT", SeededBytes(10 + i, 300));
    const auto late = b.AddFile(docs, "Late entry.txt", SeededBytes(2, 1000), {{160, 1}, {170, 1}});
    const image::FatImage built = b.Build();
    WriteBackFixture f(built);
    const uint32_t lateRec = f.RecordOf(built, late);
    ASSERT_GE(f.model.FileTab[lateRec].EntryNo, 16u);  // in the folder's second piece

    size_t mark = f.fake->Trace().size();
    ASSERT_TRUE(f.Move(lateRec, 300)) << f.flags.ErrText;
    // The entry write goes to the folder's second cluster.
    Writes w = f.WritesSince(mark);
    EXPECT_EQ(w[4].first, uint64_t(disk::ClusterToSector(f.geo, 130)));

    const uint32_t docsRec = f.RecordOf(built, docs);
    mark = f.fake->Trace().size();
    ASSERT_TRUE(f.Move(docsRec, 400)) << f.flags.ErrText;
    w = f.WritesSince(mark);
    // After the new chain, two clusters of data and the entry: ".", "..", then
    // ".." of each subfolder, then the old chain freed.
    ASSERT_GE(w.size(), 8u);
    EXPECT_EQ(w[5], std::make_pair(uint64_t(disk::ClusterToSector(f.geo, 400)), 1u));
    EXPECT_EQ(w[6], std::make_pair(uint64_t(disk::ClusterToSector(f.geo, 140)), 1u));
    EXPECT_EQ(w[7], std::make_pair(uint64_t(disk::ClusterToSector(f.geo, 145)), 1u));
    EXPECT_EQ(DotStart(f, 400, 0), 400u);
    EXPECT_EQ(DotStart(f, 400, 1), 0u);  // the root, on FAT32 too
    EXPECT_EQ(DotStart(f, 140, 1), 400u);
    EXPECT_EQ(DotStart(f, 145, 1), 400u);

    // A folder without subfolders rewrites only its own first sector.
    const uint32_t sub1Rec = f.RecordOf(built, sub1);
    mark = f.fake->Trace().size();
    ASSERT_TRUE(f.Move(sub1Rec, 500)) << f.flags.ErrText;
    w = f.WritesSince(mark);
    ASSERT_EQ(w.size(), 2u + 1u + 1u + 1u + 2u);
    EXPECT_EQ(w[4], std::make_pair(uint64_t(disk::ClusterToSector(f.geo, 500)), 1u));
    EXPECT_EQ(DotStart(f, 500, 0), 500u);
    EXPECT_EQ(DotStart(f, 500, 1), 400u);
    EXPECT_EQ(f.model.FileTab[f.RecordOf(built, sub2)].StartCluster, 145u);
    EXPECT_TRUE(SoundAndIntact(f, built));
}

TEST_P(WriteBackDirTest, AnEntryThatIsNoLongerTheRecordsOwnIsNeverWritten) {
    ImageBuilder b(Options());
    const auto file = b.AddFile(b.Root(), "A.BIN", SeededBytes(3, 400), {{200, 1}});
    const image::FatImage built = b.Build();
    const uint64_t at = built.Node(file).entryOffset;
    // The start cluster changed (the low word; on FAT32 the high word alone), the
    // slot is a leftover copy of the entry (freed or erased, start still there),
    // or another entry holds the same start.
    const std::vector<std::pair<uint64_t, uint8_t>> changes = {
        {at + (GetParam() ? 20 : 26), 1}, {at, 0}, {at, format::kErasedMark}, {at + 1, 'X'}};
    for (const auto& [offset, value] : changes) {
        WriteBackFixture f(built);
        const uint32_t rec = f.RecordOf(built, file);
        f.Bytes()[offset] = value;
        const std::vector<uint8_t> before = f.Bytes();
        DirSector sector;
        uint32_t entryNo = 0;
        int64_t s = 0;
        ASSERT_TRUE(FAT_Read_Entry(f.run, rec, sector, entryNo, s));
        EXPECT_FALSE(FAT_Update_Entry(f.run, rec, 300, sector, entryNo, s));
        EXPECT_EQ(f.flags.ErrText, "Invalid fixup subdir");
        EXPECT_EQ(f.flags.AbortRun, 1);
        EXPECT_EQ(f.Bytes(), before);

        // The mover finds it before its first write.
        f.flags = {};
        const uint64_t writes = f.fake->Writes();
        fat::Extents ext;
        fat::GetExtents(f.run, 200, ext);
        EXPECT_FALSE(FAT_MOVE_File(f.engine, rec, ext, 1, 300));
        EXPECT_EQ(f.flags.ErrText, "Invalid fixup subdir");
        EXPECT_EQ(f.fake->Writes(), writes);
    }
}

TEST_P(WriteBackDirTest, DotFixesTouchOnlySectorsThatOpenWithDotEntries) {
    ImageBuilder b(Options());
    const auto docs = b.AddFolder(b.Root(), "DOCS", {{100, 1}});
    b.AddFolder(docs, "SUB", {{110, 1}});
    b.AddFile(b.Root(), "DATA.BIN", SeededBytes(4, 400), {{120, 1}});
    const image::FatImage built = b.Build();
    WriteBackFixture f(built);
    const uint64_t writes = f.fake->Writes();

    // A cluster holding a file's data, or a folder whose first entry is no longer
    // ".", is left alone and stops the run.
    EXPECT_FALSE(FAT_Fix_Dots(f.run, f.RecordOf(built, docs), 120, 0));
    EXPECT_EQ(f.flags.ErrText, "Invalid Dot entry");
    f.flags = {};
    f.Bytes()[disk::ClusterToSector(f.geo, 110) * 512] = 'X';
    // A folder move finds it before its first write.
    fat::Extents ext;
    fat::GetExtents(f.run, 100, ext);
    EXPECT_FALSE(FAT_MOVE_File(f.engine, f.RecordOf(built, docs), ext, 1, 300));
    EXPECT_EQ(f.flags.ErrText, "Invalid Dot entry");
    EXPECT_EQ(f.fake->Writes(), writes);
    f.flags = {};
    Fat_Fix_DotLinks(f.run, f.RecordOf(built, docs), 100);
    EXPECT_EQ(f.flags.ErrText, "Invalid Dot entry");
    EXPECT_EQ(f.fake->Writes(), writes + 1);  // DOCS itself only
}

INSTANTIATE_TEST_SUITE_P(WriteBack, WriteBackDirTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fat32" : "Fat16"; });

}  // namespace
}  // namespace kestra::engine
