// Where the builder puts things: geometry against known volumes, placement of
// runs, and the refusals that keep a test from building something it did not mean.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "support/image.h"
#include "support/image_checks.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

TEST(ImageBuilderLayout, FloppyMatchesTheWellKnownGeometry) {
    const FatImage image = ImageBuilder(ImageOptions::Floppy1440()).Build();
    const Layout& l = image.layout();
    EXPECT_EQ(l.type, FatType::kFat12);
    EXPECT_EQ(l.fatSectors, 9u);
    EXPECT_EQ(l.firstRootSector, 19u);
    EXPECT_EQ(l.firstDataSector, 33u);
    EXPECT_EQ(l.clusterCount, 2847u);
    const auto& b = image.bytes();
    EXPECT_EQ(Get16(b, 11), 512);
    EXPECT_EQ(Get16(b, 19), 2880);
    EXPECT_EQ(b[21], 0xF0);
    EXPECT_EQ(Get16(b, 22), 9);
    EXPECT_EQ(Get16(b, 510), 0xAA55);
    // FAT[0] carries the media byte; FAT[1] is an end mark.
    EXPECT_EQ(image.FatEntry(0), 0xFF0u);
    EXPECT_EQ(image.FatEntry(1), 0xFFFu);
    // A wrong sector size is written only when asked, for the tests of refusal.
    ImageOptions odd = ImageOptions::Floppy1440();
    odd.bytesPerSectorField = 1024;
    EXPECT_EQ(Get16(ImageBuilder(odd).Build().bytes(), 11), 1024);
}

TEST(ImageBuilderLayout, Fat32BootRegionHasFsInfoAndBackup) {
    ImageOptions opts = ImageOptions::Fat32(1);
    opts.rootCluster = 7;
    const FatImage image = ImageBuilder(opts).Build();
    const auto& b = image.bytes();
    EXPECT_EQ(image.type(), FatType::kFat32);
    EXPECT_EQ(Get16(b, 14), 32);  // reserved sectors
    EXPECT_EQ(Get16(b, 17), 0);   // no fixed root
    EXPECT_EQ(Get16(b, 22), 0);   // FAT size lives in the 32-bit field
    EXPECT_EQ(Get32(b, 36), image.layout().fatSectors);
    EXPECT_EQ(Get32(b, 44), 7u);
    EXPECT_EQ(Get16(b, 48), 1);
    EXPECT_EQ(Get16(b, 50), 6);
    // fsck.fat judges the FSInfo sector but calls a differing backup harmless.
    EXPECT_EQ(0, std::memcmp(&b[0], &b[6 * 512], 1024));
    EXPECT_EQ(image.Node(kRootNode).runs, (Runs{{7, 1}}));
}

TEST(ImageBuilderLayout, RunsAreReservedFirstThenFirstFreeInTreeOrder) {
    ImageBuilder b(ImageOptions::Floppy1440());
    const NodeId folder = b.AddFolder(b.Root(), "F");
    const NodeId inner = b.AddFile(folder, "IN.BIN", SeededBytes(1, 1024));
    const NodeId outer = b.AddFile(b.Root(), "OUT.BIN", SeededBytes(2, 1536));
    const NodeId placed = b.AddFile(b.Root(), "PLACED.BIN", SeededBytes(3, 1024), {{5, 1}, {3, 1}});
    const NodeId empty = b.AddFile(b.Root(), "EMPTY.BIN", {});
    const FatImage image = b.Build();
    EXPECT_EQ(image.Node(folder).runs, (Runs{{2, 1}}));
    EXPECT_EQ(image.Node(inner).runs, (Runs{{4, 1}, {6, 1}}));
    EXPECT_EQ(image.Node(outer).runs, (Runs{{7, 3}}));
    EXPECT_EQ(image.Node(placed).runs, (Runs{{5, 1}, {3, 1}}));
    EXPECT_TRUE(image.Node(empty).runs.empty());
    // The FAT and the data area agree with the recorded chain.
    EXPECT_EQ(image.Chain(5), (std::vector<uint32_t>{5, 3}));
    EXPECT_EQ(image.ClusterSector(3), 33u + 1);
    const auto& content = image.Node(placed).content;
    EXPECT_EQ(0, std::memcmp(&image.bytes()[image.ClusterOffset(3)], content.data() + 512, 512));
}

TEST(ImageBuilderLayout, NamesAliasesLabelAndErasedSets) {
    ImageOptions opts = ImageOptions::Floppy1440();
    opts.label = "MY DISK";
    ImageBuilder b(opts);
    const NodeId lower = b.AddFile(b.Root(), "readme.txt", SeededBytes(1, 10));
    const NodeId first = b.AddFile(b.Root(), "Long name.txt", SeededBytes(2, 10));
    // A plain name added later still keeps the generated alias off it.
    b.AddFile(b.Root(), "LONGNA~1.TXT", SeededBytes(3, 10));
    b.AddErased(b.Root(), {"A long erased name.text"});
    const NodeId shortOnly = b.AddFile(b.Root(), "CONFIG.SYS", SeededBytes(4, 10));
    b.AddFile(b.Root(), "Quarterly report.txt", SeededBytes(5, 10));
    b.AddFile(b.Root(), "Quarterly summary.txt", SeededBytes(6, 10));
    const FatImage image = b.Build();
    EXPECT_EQ(image.Node(lower).shortName, "README.TXT");
    EXPECT_TRUE(image.Node(lower).hasLongName);
    EXPECT_EQ(image.Node(first).shortName, "LONGNA~2.TXT");
    EXPECT_FALSE(image.Node(shortOnly).hasLongName);
    // "Long name.txt" needs one long-name slot, right before its 8.3 entry.
    EXPECT_EQ(image.Node(first).entryOffset - image.Node(first).firstSlotOffset, 32u);
    ASSERT_EQ(image.Erased().size(), 1u);
    const ErasedInfo& gone = image.Erased()[0];
    EXPECT_EQ(gone.entryOffset - gone.firstSlotOffset, 2 * 32u);
    for (uint64_t at = gone.firstSlotOffset; at <= gone.entryOffset; at += 32)
        EXPECT_EQ(image.bytes()[at], 0xE5) << at;
    // The erased set sits between its neighbours, in the order added.
    EXPECT_LT(image.Node(first).entryOffset, gone.firstSlotOffset);
    EXPECT_GT(image.Node(shortOnly).firstSlotOffset, gone.entryOffset);
    // A 13-character name fills its slot with no terminator; the tools must agree,
    // and show the label, both generated aliases and the padded 8.3 name.
    TempFile file;
    EXPECT_EQ(image.WriteTo(file.path()), "");
    EXPECT_TRUE(FsckClean(file.path()));
    const CommandResult dir = Mdir(file.path());
    ASSERT_EQ(dir.exitStatus, 0) << dir.output;
    for (const char* shown :
         {"LONGNA~2 TXT        10 2020-06-15  12:30  Long name.txt", "MY DISK", "QUARTE~1 TXT",
          "QUARTE~2 TXT", "Quarterly summary.txt", "CONFIG   SYS"})
        EXPECT_NE(dir.output.find(shown), std::string::npos) << shown << "\n" << dir.output;
    EXPECT_EQ(dir.output.find("erased"), std::string::npos) << dir.output;
}

TEST(ImageBuilderLayout, RefusesWhatCannotBeBuilt) {
    const std::vector<uint8_t> two = SeededBytes(1, 1024);
    const std::function<void(ImageBuilder&)> refused[] = {
        [&](ImageBuilder& b) {
            b.AddFile(b.Root(), "A", two, {{10, 2}});
            b.AddFile(b.Root(), "B", two, {{11, 2}});
        },
        [&](ImageBuilder& b) {
            b.AddFile(b.Root(), "A", two, {{10, 3}});
        },
        [&](ImageBuilder& b) {
            b.AddFile(b.Root(), "A", two, {{2848, 2}});
        },
        [](ImageBuilder& b) {
            for (int i = 0; i < 225; ++i)
                b.AddFile(b.Root(), "F" + std::to_string(i), {});
        },
        [](ImageBuilder& b) {
            b.AddFile(b.Root(), "Same name", {});
            b.AddFile(b.Root(), "SAME NAME", {});
        },
        [](ImageBuilder& b) {
            b.AddFile(b.Root(), "not 8.3 at all", {}, {},
                      EntryOptions::Named(EntryOptions::LongName::kNever));
        },
    };
    for (size_t i = 0; i < std::size(refused); ++i) {
        SCOPED_TRACE(i);
        ImageBuilder b(ImageOptions::Floppy1440());
        EXPECT_THROW((refused[i](b), b.Build()), std::invalid_argument);
    }
    ImageOptions tiny = ImageOptions::Floppy1440();
    tiny.totalSectors = 16;
    EXPECT_THROW(ImageBuilder(tiny).Build(), std::invalid_argument);
}

}  // namespace
}  // namespace kestra::testing
