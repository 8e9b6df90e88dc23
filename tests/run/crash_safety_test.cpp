// A whole defragmentation and pack, as `kestra-cli defrag` runs it, cut after
// the 1st, 2nd, ... write in turn until it completes uncut. Every cut volume must
// still hold every file and folder with its content, and fsck.fat must find
// nothing worse than lost clusters, differing FAT copies or a stale free count.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "app/launch.h"
#include "platform/fake_device.h"
#include "report/error_boxes.h"
#include "run/run_context.h"
#include "support/image.h"
#include "support/image_checks.h"
#include "support/test_env.h"
#include "support/tree_checks.h"

namespace kestra::run {
namespace {

using image::ErasedEntry;
using image::FatImage;
using image::ImageBuilder;
using image::ImageOptions;
using image::SeededBytes;
using platform::FakeScript;

// Counts the writes that reach the volume over every opening of a run, so a cut
// lands on the n-th write of the run, whichever opening makes it.
class WriteTally : public platform::SectorDevice {
  public:
    explicit WriteTally(std::shared_ptr<platform::MemoryDevice> inner) : inner_(std::move(inner)) {}

    bool Read(uint64_t first, uint32_t count, uint8_t* buffer) override {
        return inner_->Read(first, count, buffer);
    }
    bool Write(uint64_t first, uint32_t count, const uint8_t* buffer) override {
        writes.push_back({true, first, count});
        return inner_->Write(first, count, buffer);
    }
    bool Flush() override { return inner_->Flush(); }
    uint64_t SectorCount() const override { return inner_->SectorCount(); }
    int LockState() override { return inner_->LockState(); }
    bool Lock(int level, bool allowWrites) override { return inner_->Lock(level, allowWrites); }
    bool Unlock(int level) override { return inner_->Unlock(level); }
    int LockFlagState() override { return inner_->LockFlagState(); }
    bool OpenFile(uint32_t index, std::string& path) override {
        return inner_->OpenFile(index, path);
    }

    std::vector<uint8_t>& Bytes() { return inner_->Bytes(); }
    std::vector<platform::Transfer> writes;  // the ones that landed

  private:
    std::shared_ptr<platform::MemoryDevice> inner_;
};

struct Outcome {
    std::vector<platform::Transfer> writes;
    std::vector<uint8_t> bytes;
    std::string box;  // the error box the run ended with, if any
    std::vector<std::string> lines;
};

// Defragments and packs drive C: over a fake device; writes after the cut-th
// are refused, as after a power cut.
Outcome DefragAndPack(const FatImage& img, uint64_t cut) {
    auto tally =
        std::make_shared<WriteTally>(std::shared_ptr<platform::MemoryDevice>(img.ToDevice()));
    platform::VolumeCatalogue catalogue;
    catalogue.MapDevice('C', [&](const platform::OpenOptions&) {
        FakeScript script;
        if (cut != FakeScript::kNone)
            script.crashAfterWrites = cut > tally->writes.size() ? cut - tally->writes.size() : 0;
        platform::OpenResult r;
        r.device = std::make_unique<platform::FakeDevice>(tally, script);
        return r;
    });
    platform::QuietUiHost ui;
    platform::ManualClock clock;
    RunContext ctx{catalogue, ui, clock};
    app::SetRunMode(ctx, app::RunCommand::Defrag, /*pack=*/true);
    app::ViewMap(ctx, app::DriveListEntry(catalogue, 'C'));
    Outcome o{tally->writes, tally->Bytes(), ui.lastBoxText, {}};
    for (const auto& l : ctx.report.Main.Text.Lines)
        o.lines.push_back(l.Text);
    return o;
}

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

// What a write touched, for a failure message.
std::string Where(const FatImage& img, const platform::Transfer& t) {
    const image::Layout& l = img.layout();
    std::ostringstream s;
    s << "sectors " << t.first << "+" << t.count << " (";
    if (t.first < l.reservedSectors) {
        s << "reserved area";
    } else if (t.first < l.FatStartSector(l.numFats)) {
        s << "FAT copy " << (t.first - l.reservedSectors) / l.fatSectors + 1;
    } else if (t.first < l.firstDataSector) {
        s << "root folder";
    } else {
        const uint32_t c =
            static_cast<uint32_t>((t.first - l.firstDataSector) / l.sectorsPerCluster + 2);
        s << "cluster " << c;
        for (image::NodeId id = 0; id < img.NodeCount(); ++id) {
            for (uint32_t k : img.Node(id).Clusters()) {
                if (k == c) s << ", built for " << img.Node(id).path;
            }
        }
    }
    return s.str() + ")";
}

// Runs uncut to count the writes, then cuts after every one of them.
void EveryCutKeepsEveryFile(const FatImage& img) {
    using testing::FsckAtWorstLostClusters;
    const testing::Tree want = testing::BuiltTree(img);
    testing::TempDir dir;
    const std::string path = dir.File("cut.img");

    const Outcome whole = DefragAndPack(img, FakeScript::kNone);
    const uint64_t n = whole.writes.size();
    std::string printed;
    for (const std::string& l : whole.lines)
        printed += l + "\n";
    ASSERT_EQ(whole.box, "") << "the uncut run ended with an error box:\n" << printed;
    testing::WriteFile(path, whole.bytes);
    ASSERT_TRUE(testing::FsckClean(path));
    testing::Tree got;
    ASSERT_TRUE(testing::CopyOutTree(path, got));
    ASSERT_TRUE(testing::SameTree(want, got));
    // Enough moves that the cuts fall inside every step of a move.
    ASSERT_GT(n, 40u);

    const auto start = std::chrono::steady_clock::now();
    std::string failed;   // every failing cut; the first few in full above
    std::string windows;  // cuts inside a folder move or compaction
    int shown = 0;
    for (uint64_t cut = 1; cut < n; ++cut) {
        const Outcome o = DefragAndPack(img, cut);
        const std::string at = "cut after write " + std::to_string(cut) + " of " +
                               std::to_string(n) +
                               ", last landed: " + Where(img, whole.writes[cut - 1]) +
                               ", next refused: " + Where(img, whole.writes[cut]);
        // The same run up to the cut, and a refused write stops it as a disk error.
        EXPECT_EQ(o.writes.size(), cut) << at;
        EXPECT_EQ(o.box, report::DiskErrorText()) << at;
        testing::WriteFile(path, o.bytes);
        testing::Tree cutTree;
        const auto read = testing::CopyOutTree(path, cutTree);
        const auto same = read ? testing::SameTree(want, cutTree) : read;
        const auto fsck = FsckAtWorstLostClusters(path);
        if (same && !fsck && FsckAtWorstLostClusters(path, /*knownWindows=*/true)) {
            windows += " " + std::to_string(cut);
            continue;
        }
        if (same && fsck) continue;
        failed += " " + std::to_string(cut);
        if (shown++ >= 8) continue;
        EXPECT_TRUE(same) << at;
        EXPECT_TRUE(fsck) << at;
    }
    EXPECT_EQ(failed, "") << "cuts that failed, of " << n - 1;
    // One cut per subfolder of each moved folder, between the folder's entry
    // switch and the fix of that subfolder's "..": the volume holds two.
    EXPECT_LE(std::count(windows.begin(), windows.end(), ' '), 2) << "window cuts:" << windows;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "[ cuts     ] %llu writes in the uncut run, %llu cuts checked in %.1f s, "
        "inside a folder move or compaction:%s\n",
        static_cast<unsigned long long>(n), static_cast<unsigned long long>(n - 1), seconds,
        windows.c_str());
}

TEST(CrashSafetyTest, AFat16VolumeSurvivesACutAfterEveryWrite) {
    EveryCutKeepsEveryFile(VariedVolume(ImageOptions::Fat16(8400, 1), false));
}

TEST(CrashSafetyTest, AFat32VolumeWithAFragmentedRootSurvivesACutAfterEveryWrite) {
    EveryCutKeepsEveryFile(VariedVolume(ImageOptions::Fat32(1), true));
}

}  // namespace
}  // namespace kestra::run
