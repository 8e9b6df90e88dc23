// A whole defragmentation and pack, as `kestra-cli defrag` runs it, cut after
// the 1st, 2nd, ... write in turn, and with that write torn, until it completes
// uncut. Every cut volume must still hold every file and folder with its content,
// stand marked as in use, be refused by the next run as interrupted, and be
// repaired by fsck.fat -a; fsck.fat -n must find nothing worse than the mark,
// lost clusters, differing FAT copies, a stale free count or a moved folder's
// stale "..": never an entry standing twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "support/defrag_harness.h"
#include "support/image.h"
#include "support/image_checks.h"
#include "support/volume_reader.h"

namespace kestra::run {
namespace {

using image::FatImage;
using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;

// Fragmented files and folders (a fragmented folder holding a fragmented folder
// holding a folder), long names, a folder whose erased entries fill its first
// sector, an empty file, a file larger than the move buffer, and holes
// everywhere with a file near the end for the pack to bring down.
FatImage VariedVolume(ImageOptions options, bool fragmentedRoot) {
    ImageBuilder b(options);
    const uint32_t clusterBytes = options.sectorsPerCluster * 512u;
    uint32_t seed = 1;
    auto bytes = [&](uint32_t clusters) {
        const uint32_t s = seed++;
        return SeededBytes(s, clusters * clusterBytes - (s * 37) % clusterBytes);
    };
    if (fragmentedRoot) b.SetRootRuns({{2, 1}, {45, 1}});
    const auto docs = b.AddFolder(b.Root(), "DOCS", {{60, 1}, {90, 1}});
    const auto sub = b.AddFolder(docs, "Sub folder", {{120, 1}, {140, 1}});
    const auto deep = b.AddFolder(sub, "DEEP");
    b.AddFile(deep, "deep file.bin", bytes(5), {{150, 2}, {170, 3}});
    b.AddFile(sub, "notes.txt", bytes(1));
    b.AddFile(docs, "Report 2026.doc", bytes(7), {{200, 3}, {100, 4}});
    b.AddFile(docs, "A.BIN", bytes(3), {{250, 3}});

    const auto erased = b.AddFolder(b.Root(), "Folder with erased entries", {{330, 2}});
    b.AddFile(erased, "KEEP1.TXT", bytes(2), {{270, 1}, {280, 1}});
    b.AddErased(erased, {"Another long erased name.doc", false, 0, 0});
    b.AddErased(erased, {"Old draft.txt", false, 0, 0});
    b.AddErased(erased, {"OLD.TMP", false, 0, 0});
    b.AddErased(erased, {"Yet another erased file name.txt", false, 0, 0});
    b.AddErased(erased, {"X1.TMP", false, 0, 0});
    b.AddFile(erased, "keep two.txt", bytes(1));
    b.AddFile(erased, "LAST.BIN", bytes(3));

    b.AddFile(b.Root(), "Long file name in the root.dat", bytes(9), {{300, 2}, {310, 3}, {320, 4}});
    // Erased long names between root files: the root is compacted across sectors.
    for (uint32_t k = 0; k < (fragmentedRoot ? 0 : 5); ++k) {
        b.AddErased(b.Root(),
                    {"Erased root entry with a long name " + std::to_string(k), false, 0, 0});
        b.AddFile(b.Root(), "Root file " + std::to_string(k) + ".txt", bytes(1));
    }
    // Small files in two pieces each: their moves share batches.
    const auto photos = b.AddFolder(b.Root(), "PHOTOS");
    for (uint32_t k = 0; k < 6; ++k) {
        b.AddFile(photos, "IMG" + std::to_string(k) + ".JPG", bytes(2),
                  {{2800 + 4 * k, 1}, {2860 + 4 * k, 1}});
    }
    b.AddFile(b.Root(), "EMPTY.TXT", {});
    b.AddErased(b.Root(), {"GONE.BIN", false, 0, 0});
    // 1.1 MB in three pieces: the copy fills the move buffer more than once.
    const uint32_t big = (1100 * 1024) / clusterBytes;
    b.AddFile(b.Root(), "BIG.BIN", bytes(big),
              {{400, big / 3},
               {400 + big / 3 + 50, big / 3},
               {400 + 2 * (big / 3) + 100, big - 2 * (big / 3)}});
    const uint32_t last = image::ComputeLayout(options).MaxCluster();
    b.AddFile(b.Root(), "TAIL.BIN", bytes(4), {{last - 20, 4}});
    return b.Build();
}

// Runs uncut to count the writes, then cuts after every one of them.
void EveryCutKeepsEveryFile(const FatImage& img) {
    const testing::Subject subject{img};
    const testing::Outcome whole = testing::DefragAndPack(subject);
    ASSERT_EQ(whole.box, "") << "the uncut run ended with an error box:\n" << whole.Printed();
    testing::TempDir dir;
    ASSERT_TRUE(testing::WriteVolume(subject, whole.bytes, dir.File("whole.img")));
    ASSERT_TRUE(testing::FsckClean(dir.File("whole.img")));
    testing::Tree got;
    ASSERT_TRUE(testing::CopyOutTree(dir.File("whole.img"), got));
    ASSERT_TRUE(testing::SameTree(testing::BuiltTree(img), got));
    // Enough moves that the cuts fall inside every step of a move.
    ASSERT_GT(whole.writes.size(), 40u);
    // A fixed root is compacted in place: the cuts fall inside that too.
    const image::Layout& l = img.layout();
    EXPECT_TRUE(l.type == image::FatType::kFat32 ||
                std::any_of(whole.writes.begin(), whole.writes.end(), [&](const auto& t) {
                    return t.first >= l.firstRootSector && t.first < l.firstDataSector;
                }));

    const auto start = std::chrono::steady_clock::now();
    const testing::CutReport r = testing::EveryCut(subject, whole);
    for (const std::string& d : r.details)
        ADD_FAILURE() << d;
    EXPECT_EQ(r.failed, "") << "cuts that failed, of " << r.cuts;
    // One cut per subfolder of each moved folder, between the folder's entry
    // switch and the fix of that subfolder's "..", torn or not: the volume holds
    // two, and a folder may move twice when the FAT32 root moved out of its way.
    EXPECT_LE(std::count(r.windows.begin(), r.windows.end(), ' '), 4)
        << "window cuts:" << r.windows;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "[ cuts     ] %zu writes in the uncut run (%llu sharing a barrier), %llu cuts checked in "
        "%.1f s, inside a folder move or compaction:%s\n",
        whole.writes.size(), static_cast<unsigned long long>(r.reordered),
        static_cast<unsigned long long>(r.cuts), seconds, r.windows.c_str());
}

TEST(CrashSafetyTest, Fat12AndFat16VolumesSurviveACutAfterEveryWrite) {
    ImageOptions fat12;
    fat12.totalSectors = 8000;
    fat12.sectorsPerCluster = 2;
    EveryCutKeepsEveryFile(VariedVolume(fat12, false));
    EveryCutKeepsEveryFile(VariedVolume(ImageOptions::Fat16(8400, 1), false));
}

TEST(CrashSafetyTest, AFat32VolumeWithAFragmentedRootSurvivesACutAfterEveryWrite) {
    EveryCutKeepsEveryFile(VariedVolume(ImageOptions::Fat32(1), true));
}

// A FAT12 root of 16 entries, all taken but `erasedInRoot` erased ones: DOCS, in
// two pieces, holds SUB; FLAT, in two pieces, holds files only; small files in
// two pieces and holes for the pack.
FatImage FixedRootVolume(uint32_t erasedInRoot) {
    ImageOptions o;
    o.totalSectors = 1200;
    o.rootEntries = 16;
    ImageBuilder b(o);
    const auto docs = b.AddFolder(b.Root(), "DOCS", {{40, 1}, {60, 1}});
    const auto sub = b.AddFolder(docs, "SUB", {{80, 1}});
    b.AddFile(sub, "A.BIN", SeededBytes(1, 1500), {{100, 1}, {120, 2}});
    const auto flat = b.AddFolder(b.Root(), "FLAT", {{140, 1}, {160, 1}});
    b.AddFile(flat, "B.BIN", SeededBytes(2, 700), {{180, 1}, {190, 1}});
    for (uint32_t k = 0; k < erasedInRoot; ++k)
        b.AddErased(b.Root(), {"GONE" + std::to_string(k) + ".TXT", false, 0, 0});
    for (uint32_t k = 0; k < 14 - erasedInRoot; ++k) {
        b.AddFile(b.Root(), "F" + std::to_string(k) + ".TXT", SeededBytes(3 + k, 900),
                  {{200 + 8 * k, 1}, {204 + 8 * k, 1}});
    }
    return b.Build();
}

// fsck.fat -a saves the lost chain a cut in a folder move leaves as a file in
// the root: with no entry free there it repairs nothing, and the stale ".." of
// the moved folder's subfolder would stay. One erased entry is room enough.
TEST(CrashSafetyTest, AFullFixedRootKeepsFoldersThatHoldFoldersInPlace) {
    const std::string kept = "Folders kept in place=1 (the root folder is full)";
    for (const uint32_t erased : {0u, 1u}) {
        SCOPED_TRACE(erased ? "one erased entry in the root" : "a full root");
        const FatImage img = FixedRootVolume(erased);
        const testing::Subject subject{img};
        const testing::Outcome whole = testing::DefragAndPack(subject);
        ASSERT_TRUE(whole.EndsWithStatistics()) << whole.Printed();
        EXPECT_EQ(std::count(whole.lines.begin(), whole.lines.end(), kept), erased ? 0 : 1)
            << whole.Printed();
        const testing::ReadVolume r = testing::ReadFatVolume(whole.bytes);
        for (const testing::ReadItem& item : r.items) {
            if (item.path == "/DOCS" && erased == 0) {
                EXPECT_EQ(item.clusters, (std::vector<uint32_t>{40, 60}));
            } else if (item.path != "/") {
                EXPECT_EQ(item.Extents(), 1u) << item.path;
            }
        }
        const testing::CutReport cuts = testing::EveryCut(subject, whole);
        for (const std::string& d : cuts.details)
            ADD_FAILURE() << d;
        EXPECT_EQ(cuts.failed, "") << "cuts that failed, of " << cuts.cuts;
        // Only the moved DOCS leaves its SUB a stale "..".
        EXPECT_EQ(cuts.windows.empty(), erased == 0) << cuts.windows;
    }
}

}  // namespace
}  // namespace kestra::run
