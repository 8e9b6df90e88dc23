#include "analysis/folder_scan.h"

#include <gtest/gtest.h>

#include "analysis_fixture.h"
#include "support/image.h"
#include "support/image_damage.h"

namespace kestra::analysis {
namespace {

using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;

std::vector<uint8_t> Bytes(size_t n) {
    return SeededBytes(static_cast<uint32_t>(n), n);
}

TEST(FolderScanTest, TablesFillInPreOrderWithPositionsAcrossClustersAndErasedCounts) {
    ImageBuilder b(ImageOptions::Fat16(65536, 1));  // 16 entries a cluster
    b.AddErased(b.Root(), {"OLD.TXT"});
    const auto docs = b.AddFolder(b.Root(), "My Documents", {{100, 1}, {110, 1}});
    for (int i = 0; i < 14; ++i)
        b.AddFile(docs, "F" + std::to_string(i) + ".TXT", Bytes(10));
    b.AddErased(docs, {"Erased long name.txt"});  // three slots
    b.AddFile(docs, "Quarterly report.txt", Bytes(1024), {{200, 1}, {210, 1}});
    const auto sub = b.AddFolder(docs, "SUB", {{120, 1}});
    b.AddFile(sub, "DEEP.BIN", Bytes(600), {{130, 2}});
    b.AddFile(b.Root(), "EMPTY.TXT", {});
    // The fixed root is read past its first cluster's worth of sectors.
    for (int i = 0; i < 40; ++i)
        b.AddFile(b.Root(), "R" + std::to_string(i) + ".TXT", Bytes(5));
    AnalysisFixture f(b.Build());

    ASSERT_TRUE(f.Analyse()) << f.flags.ErrText;
    EXPECT_EQ(f.counters.PlainFileCount, 57u);
    EXPECT_EQ(f.counters.FolderCount, 2u);
    EXPECT_EQ(f.counters.FileCount, 59u);
    EXPECT_EQ(f.counters.EmptyFileCount, 1u);
    EXPECT_EQ(f.counters.ErasedEntryCount, 4u);
    EXPECT_EQ(f.counters.ChainCount, 58u);
    EXPECT_EQ(f.counters.FragmentedCount, 2u);  // the report and its folder

    ASSERT_EQ(f.counters.DirCount, 3u);
    const uint32_t docsRec = f.RecordAt(100);
    EXPECT_EQ(f.model.DirTab[1].FolderRec, 0u);
    EXPECT_EQ(f.model.DirTab[1].ErasedInFolder, 1u);
    EXPECT_EQ(f.model.DirTab[2].FolderRec, docsRec);
    EXPECT_EQ(f.model.DirTab[2].ErasedInFolder, 3u);
    EXPECT_EQ(f.model.DirTab[3].FolderRec, f.RecordAt(120));

    // ".", "..", 14 files, 3 erased slots, 2 long-name slots: the 8.3 entry of the
    // report is entry 21, in the folder's second cluster.
    const uint32_t report = f.RecordAt(200);
    EXPECT_EQ(f.model.FileTab[report].EntryNo, 21u);
    EXPECT_EQ(f.model.FileTab[report].ParentRec, docsRec);
    EXPECT_EQ(f.model.FileTab[report].Frags, 2);
    EXPECT_EQ(
        fat::FolderPath(f.model, static_cast<int32_t>(f.model.FileFolderIdx[f.RecordAt(130)])),
        "C:\\MYDOCU~1\\SUB");
    EXPECT_EQ(f.lstInuse, std::vector<std::string>{"C:\\My Documents\\Quarterly report.txt (1Kb)"});
    EXPECT_EQ(f.BoxOf(200), display::kBoxFrag);
    EXPECT_EQ(f.BoxOf(130), display::kBoxFile);
}

TEST(FolderScanTest, FilesWhoseChainDoesNotFitTheirSizeAreFixed) {
    ImageBuilder b(ImageOptions::Floppy1440());
    const auto one = b.AddFile(b.Root(), "ONE.BIN", Bytes(1), {{10, 1}});
    const auto full = b.AddFile(b.Root(), "FULL.BIN", Bytes(512), {{20, 1}});
    const auto more = b.AddFile(b.Root(), "MORE.BIN", Bytes(513), {{30, 2}});
    const auto zero = b.AddFile(b.Root(), "ZERO.BIN", Bytes(512), {{40, 1}});
    const auto small = b.AddFile(b.Root(), "SMALL.BIN", Bytes(1024), {{50, 2}});
    const auto swap = b.AddFile(b.Root(), "WIN386.SWP", Bytes(1024), {{60, 2}});
    image::FatImage img = b.Build();
    testing::SetEntrySize(img, zero, 0);
    testing::SetEntrySize(img, small, 100);
    testing::SetEntrySize(img, swap, 100);
    AnalysisFixture f(img);
    ASSERT_TRUE(f.Analyse()) << f.flags.ErrText;
    auto fixed = [&](image::NodeId n) {
        return f.model.FileFixed[f.RecordAt(img.Node(n).FirstCluster())] == 255;
    };
    EXPECT_FALSE(fixed(one));
    EXPECT_FALSE(fixed(full));
    EXPECT_FALSE(fixed(more));
    EXPECT_TRUE(fixed(zero));
    EXPECT_TRUE(fixed(small));
    EXPECT_FALSE(fixed(swap));  // the swap file is fixed only as a busy system file
    EXPECT_EQ(f.mode.FixedFileCount, 2u);
    EXPECT_EQ(f.BoxOf(50), display::kBoxFixed);
    EXPECT_FALSE(f.flags.StructureErrorFlag);
}

TEST(FolderScanTest, OnASharedVolumeSystemOpenAndTemporaryFilesAreFixed) {
    ImageBuilder b(ImageOptions::Floppy1440());
    const auto docs = b.AddFolder(b.Root(), "DOCS");
    b.AddFile(b.Root(), "WIN386.SWP", Bytes(1024), {{100, 1}, {110, 1}});
    b.AddFile(b.Root(), "USER.DAT", Bytes(10), {{120, 1}});
    b.AddFile(docs, "~DF12AB.TMP", Bytes(10), {{130, 1}});
    b.AddFile(docs, "OPEN.TXT", Bytes(1024), {{140, 1}, {150, 1}});
    b.AddFile(docs, "CALM.TXT", Bytes(10), {{160, 1}});
    const image::FatImage img = b.Build();

    for (const int defragMode : {-1, 0}) {
        AnalysisFixture f(img);
        f.script.openFiles = {"C:\\DOCS\\OPEN.TXT", "C:\\DOCS\\CALM.TXT"};
        f.fake->Script().openFiles = f.script.openFiles;
        f.mode.SharedVolume = true;
        f.mode.DefragMode = defragMode;
        ASSERT_TRUE(f.Analyse()) << f.flags.ErrText;
        auto fixedAt = [&](uint32_t c) { return f.model.FileFixed[f.RecordAt(c)] == 255; };
        EXPECT_TRUE(fixedAt(100));
        EXPECT_TRUE(fixedAt(140));
        // Unfragmented files are not looked at when only defragmenting.
        EXPECT_EQ(fixedAt(120), defragMode < 0);
        EXPECT_EQ(fixedAt(130), defragMode < 0);
        EXPECT_EQ(fixedAt(160), defragMode < 0);
        EXPECT_EQ(f.counters.FragmentedFixedCount, 2u);
        EXPECT_EQ(f.lstInuse, (std::vector<std::string>{"C:\\WIN386.SWP (fixed)",
                                                        "C:\\DOCS\\OPEN.TXT (busy)"}));
        ASSERT_EQ(f.analysis.inuseFiles.size(), 2u);
        EXPECT_EQ(f.analysis.inuseFiles[1].Mark, "busy");
        EXPECT_EQ(f.analysis.scannedFiles[0].Mark, "fixed");
    }
}

TEST(FolderScanTest, ListedFilesHoldEveryRunBeyondWhatFragsCounts) {
    ImageBuilder b(ImageOptions::Floppy1440());
    image::Runs runs;
    for (uint32_t i = 0; i < 300; ++i)
        runs.push_back({400 + 2 * i, 1});
    b.AddFile(b.Root(), "A long name.bin", Bytes(300 * 512), runs);
    b.AddFile(b.Root(), "WHOLE.BIN", Bytes(10), {{1200, 1}});
    for (const bool everyFile : {false, true}) {
        AnalysisFixture f(b.Build());
        f.analysis.listEveryFile = everyFile;
        ASSERT_TRUE(f.Analyse()) << f.flags.ErrText;
        EXPECT_EQ(f.model.FileTab[f.RecordAt(400)].Frags, 255);
        ASSERT_EQ(f.analysis.inuseFiles.size(), 1u);
        EXPECT_EQ(f.analysis.inuseFiles[0].Path, "C:\\A long name.bin");
        EXPECT_EQ(f.analysis.inuseFiles[0].Runs.size(), 300u);
        EXPECT_EQ(f.analysis.inuseFiles[0].Runs.back(), std::make_pair(998u, 1u));
        EXPECT_EQ(f.analysis.scannedFiles.size(), everyFile ? 2u : 1u);
    }
}

TEST(FolderScanTest, TheFat32RootIsAChainWithoutAnEntry) {
    ImageBuilder b(ImageOptions::Fat32(1));
    b.SetRootRuns({{300, 1}, {200, 1}});
    for (int i = 0; i < 3; ++i)
        b.AddFile(b.Root(), "F" + std::to_string(i), Bytes(100));
    AnalysisFixture f(b.Build());
    ASSERT_TRUE(f.Analyse()) << f.flags.ErrText;
    EXPECT_EQ(f.counters.ChainCount, 4u);
    EXPECT_EQ(f.counters.FolderCount, 1u);  // the root, added by the count test
    EXPECT_EQ(f.model.FileTab[0].Frags, 2);
    EXPECT_EQ(f.counters.FragmentedCount, 1u);
}

}  // namespace
}  // namespace kestra::analysis
