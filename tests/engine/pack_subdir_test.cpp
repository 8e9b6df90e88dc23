#include "engine/pack_subdir.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/tree_checks.h"
#include "write_back_fixture.h"

namespace kestra::engine {
namespace {

using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;

// First bytes of a folder's entries up to its end mark.
std::vector<uint8_t> FirstBytes(WriteBackFixture& f, int64_t sector, uint32_t entries) {
    std::vector<uint8_t> out;
    for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t b = f.Bytes()[sector * 512 + e * 32];
        if (b == 0) break;
        out.push_back(b);
    }
    return out;
}

bool HasErased(const std::vector<uint8_t>& firstBytes) {
    for (uint8_t b : firstBytes)
        if (b == format::kErasedMark) return true;
    return false;
}

// In each sector of a folder no live entry follows an erased one, but for the
// long-name slots that close a sector and go on into the next.
bool SectorsClosedUp(WriteBackFixture& f, int64_t sector, uint32_t entries) {
    for (uint32_t first = 0; first < entries; first += 16) {
        bool hole = false;
        for (uint32_t e = first; e < std::min(entries, first + 16); ++e) {
            const uint8_t* entry = &f.Bytes()[sector * 512 + e * 32];
            if (entry[0] == 0) return true;
            if (entry[0] == format::kErasedMark) {
                hole = true;
            } else if (hole && entry[11] != 0x0F) {
                return false;
            }
        }
    }
    return true;
}

// The fixed root of FAT12 is closed up within each sector, so no entry ever
// stands in two; the FAT32 root is compacted only while no entry would change
// sectors, since it cannot move yet.
TEST(WriteBackPackTest, RootsAreCompactedInPlace) {
    for (const ImageOptions& options : {ImageOptions::Floppy1440(), ImageOptions::Fat32()}) {
        // Twenty files with long names fill several sectors; eight 8.3 names one.
        for (const int files : {20, 8}) {
            ImageBuilder b(options);
            for (int i = 0; i < files; ++i) {
                const std::string n = std::to_string(i);
                if (i % 3 == 0) b.AddErased(b.Root(), {files == 8 ? "X" + n : "Erased entry " + n});
                b.AddFile(b.Root(), files == 8 ? "F" + n + ".TXT" : "File number " + n + ".txt",
                          SeededBytes(i, 200 + 37 * i));
            }
            const image::FatImage built = b.Build();
            WriteBackFixture f(built);
            const int64_t root = f.geo.IsFat32 ? disk::ClusterToSector(f.geo, f.geo.RootCluster)
                                               : disk::RootDirSector(f.geo);
            const std::vector<uint8_t> before = f.Bytes();
            FAT_Pack_Subdir(f.engine, 0);
            EXPECT_FALSE(f.flags.RunError) << f.flags.ErrText;
            const bool staysAsItWas = f.geo.IsFat32 && files == 20;
            EXPECT_EQ(HasErased(FirstBytes(f, root, 64)), staysAsItWas || files == 20);
            EXPECT_EQ(f.Bytes() == before, staysAsItWas);
            EXPECT_EQ(SectorsClosedUp(f, root, 64), !staysAsItWas);
            EXPECT_TRUE(SoundAndIntact(f, built));
        }
    }
}

// Whatever subset of its rewritten sectors reaches the medium, in whatever
// order, the root holds every entry once and every long name whole: fsck.fat
// finds nothing to mend in any of them.
TEST(WriteBackPackTest, EveryMixOfOldAndNewRootSectorsIsASoundFolder) {
    ImageBuilder b(ImageOptions::Fat16(16384, 2));
    for (int i = 0; i < 12; ++i) {
        if (i % 2 == 0) b.AddErased(b.Root(), {"Erased long entry number " + std::to_string(i)});
        b.AddFile(b.Root(), "A file with a long name " + std::to_string(i) + ".txt",
                  SeededBytes(i, 100));
    }
    const image::FatImage built = b.Build();
    WriteBackFixture f(built);
    const size_t mark = f.fake->Trace().size();
    FAT_Pack_Subdir(f.engine, 0);
    ASSERT_FALSE(f.flags.RunError) << f.flags.ErrText;
    const auto written = f.WritesSince(mark);
    ASSERT_GE(written.size(), 3u);
    ASSERT_LE(written.size(), 6u);
    const std::vector<uint8_t> after = f.Bytes();
    for (uint32_t mix = 1; mix + 1 < (1u << written.size()); ++mix) {
        std::vector<uint8_t> bytes = built.bytes();
        for (size_t k = 0; k < written.size(); ++k) {
            if ((mix & (1u << k)) == 0) continue;
            const size_t at = size_t{written[k].first} * 512;
            std::copy_n(after.begin() + at, size_t{written[k].second} * 512, bytes.begin() + at);
        }
        std::copy(bytes.begin(), bytes.end(), f.Bytes().begin());
        EXPECT_TRUE(SoundAndIntact(f, built)) << "sectors landed: mask " << mix;
    }
}

TEST(WriteBackPackTest, FoldersInPiecesCleanDamagedOrWithErasedEntriesAtTheEnd) {
    ImageBuilder b(ImageOptions::Fat16());
    const auto clean = b.AddFolder(b.Root(), "CLEAN", {{100, 1}});
    b.AddFile(clean, "A.TXT", SeededBytes(1, 10));
    const auto tail = b.AddFolder(b.Root(), "TAIL", {{110, 1}});
    b.AddFile(tail, "B.TXT", SeededBytes(2, 10));
    b.AddErased(tail, {"Gone at the end.txt"});
    const auto split = b.AddFolder(b.Root(), "SPLIT", {{120, 1}, {130, 1}});
    b.AddErased(split, {"X.TXT"});
    b.AddFile(split, "C.TXT", SeededBytes(3, 10));
    const auto broken = b.AddFolder(b.Root(), "BROKEN", {{140, 1}});
    b.AddErased(broken, {"OLD.TXT"});
    b.AddFile(broken, "D.TXT", SeededBytes(4, 10));
    const image::FatImage built = b.Build();
    WriteBackFixture f(built);

    std::vector<uint8_t> before = f.Bytes();
    uint64_t writes = f.fake->Writes();
    FAT_Pack_Subdir(f.engine, f.RecordOf(built, clean));
    EXPECT_EQ(f.fake->Writes(), writes);
    EXPECT_EQ(f.Bytes(), before);

    // A folder in two pieces is left alone.
    FAT_Pack_Subdir(f.engine, f.RecordOf(built, split));
    EXPECT_EQ(f.fake->Writes(), writes);
    EXPECT_FALSE(f.flags.RunError);

    const int64_t tailSector = disk::ClusterToSector(f.geo, 110);
    FAT_Pack_Subdir(f.engine, f.RecordOf(built, tail));
    EXPECT_EQ(f.fake->Writes(), writes + 1);
    // ".", "..", B.TXT, then the erased set's first bytes are 0.
    EXPECT_EQ(FirstBytes(f, tailSector, 32).size(), 3u);
    for (uint64_t slot : built.Erased()[0].slotOffsets)
        EXPECT_EQ(f.Bytes()[slot], 0);
    EXPECT_TRUE(SoundAndIntact(f, built));

    // A folder that no longer opens with its "." entry is not written.
    f.Bytes()[disk::ClusterToSector(f.geo, 140) * 512] = 'X';
    before = f.Bytes();
    writes = f.fake->Writes();
    FAT_Pack_Subdir(f.engine, f.RecordOf(built, broken));
    EXPECT_EQ(f.flags.ErrText, "Invalid Dot entry");
    EXPECT_EQ(f.flags.AbortRun, 1);
    EXPECT_TRUE(f.flags.RunError);
    EXPECT_EQ(f.fake->Writes(), writes);
    EXPECT_EQ(f.Bytes(), before);
}

TEST(WriteBackPackTest, OnASharedVolumeThePackHoldsTheWriteLockOnlyWhileItWrites) {
    ImageBuilder b(ImageOptions::Fat16());
    const auto docs = b.AddFolder(b.Root(), "DOCS", {{100, 1}});
    b.AddErased(docs, {"OLD.TXT"});
    b.AddFile(docs, "A.TXT", SeededBytes(1, 10));
    const image::FatImage built = b.Build();
    WriteBackFixture f(built);
    f.script.allowLock = [](int level) { return level != 0; };
    ASSERT_TRUE(disk::LockIt(f.lock));
    ASSERT_FALSE(f.io.Level0Lock);
    const uint32_t rec = f.RecordOf(built, docs);

    // Another program wrote meanwhile: the pack leaves the folder alone.
    f.flags.VolumeTouched = true;
    FAT_Pack_Subdir(f.engine, rec);
    EXPECT_EQ(f.fake->Writes(), 0u);
    EXPECT_EQ(f.io.GetLockState(), 1);

    f.flags.VolumeTouched = false;
    FAT_Pack_Subdir(f.engine, rec);
    EXPECT_EQ(f.fake->Writes(), 1u);
    EXPECT_EQ(f.io.GetLockState(), 1);
    EXPECT_FALSE(f.flags.DropLocksFlag);
    EXPECT_TRUE(SoundAndIntact(f, built));
}

TEST(WriteBackPackTest, ARootWhoseEntryCountEndsInsideASectorKeepsItsLastEntries) {
    ImageOptions options = ImageOptions::Floppy1440();
    options.rootEntries = 20;  // the second root sector holds entries 16 to 19
    ImageBuilder b(options);
    for (int i = 0; i < 4; ++i)
        b.AddErased(b.Root(), {"GONE" + std::to_string(i) + ".TXT"});
    for (int i = 0; i < 16; ++i)
        b.AddFile(b.Root(), "F" + std::to_string(i) + ".TXT", SeededBytes(i, 100));
    const image::FatImage built = b.Build();
    WriteBackFixture f(built);
    const int64_t root = disk::RootDirSector(f.geo);
    auto liveNames = [&] {
        std::vector<std::string> names;
        for (uint32_t e = 0; e < 20; ++e) {
            const uint8_t* entry = &f.Bytes()[root * 512 + e * 32];
            if (entry[0] == 0) break;
            if (entry[0] != format::kErasedMark)
                names.push_back(fat::EntryName(entry, format::CodePage()));
        }
        return names;
    };
    const std::vector<std::string> before = liveNames();
    ASSERT_EQ(before.size(), 16u);
    const std::vector<uint8_t> pastTheRoot(f.Bytes().begin() + (root + 1) * 512 + 4 * 32,
                                           f.Bytes().begin() + (root + 2) * 512);

    FAT_Pack_Subdir(f.engine, 0);
    EXPECT_FALSE(f.flags.RunError) << f.flags.ErrText;
    EXPECT_EQ(liveNames(), before);
    EXPECT_TRUE(SectorsClosedUp(f, root, 20));
    // The bytes of the last sector beyond the root's 20 entries are not its own.
    EXPECT_EQ(std::vector<uint8_t>(f.Bytes().begin() + (root + 1) * 512 + 4 * 32,
                                   f.Bytes().begin() + (root + 2) * 512),
              pastTheRoot);
}

}  // namespace
}  // namespace kestra::engine
