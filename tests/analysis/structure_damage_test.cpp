// Every kind of damage stops the analysis with its own text, or fixes the file it
// concerns, and nothing is ever written to the volume.
#include <gtest/gtest.h>

#include <cstdio>

#include "analysis_fixture.h"
#include "support/image.h"
#include "support/image_damage.h"

namespace kestra::analysis {
namespace {

using testing::ImageBuilder;
using testing::ImageOptions;
using testing::SeededBytes;

struct Damaged {
    testing::FatImage image;
    testing::NodeId a, b, docs, inner, sub;
};

// A small volume: A.BIN fragmented, B.BIN, folder DOCS spanning two clusters with
// INNER.TXT and folder SUB in it: five entries, five chains (six on FAT32).
Damaged Build(const ImageOptions& options) {
    ImageBuilder builder(options);
    const uint32_t cb = options.sectorsPerCluster * 512;
    Damaged d{testing::FatImage({}, {}, {}, {}), 0, 0, 0, 0, 0};
    d.a = builder.AddFile(builder.Root(), "A.BIN", SeededBytes(1, 3 * cb), {{10, 2}, {20, 1}});
    d.b = builder.AddFile(builder.Root(), "B.BIN", SeededBytes(2, 2 * cb), {{30, 2}});
    d.docs = builder.AddFolder(builder.Root(), "DOCS", {{40, 1}, {44, 1}});
    d.inner = builder.AddFile(d.docs, "INNER.TXT", SeededBytes(3, 100), {{50, 1}});
    d.sub = builder.AddFolder(d.docs, "SUB", {{55, 1}});
    d.image = builder.Build();
    return d;
}

struct Case {
    const char* name;
    std::function<void(Damaged&)> damage;
    const char* errText;  // empty: the analysis comes through
};

// The chain count text, counted for FAT12/16; FAT32 adds its root to both sides.
std::string Expected(const std::string& text, bool fat32) {
    int files = 0, chains = 0;
    if (!fat32 || std::sscanf(text.c_str(), "Files+Dirs=%d <> Chains=%d", &files, &chains) != 2) {
        return text;
    }
    return "Files+Dirs=" + std::to_string(files + 1) + " <> Chains=" + std::to_string(chains + 1);
}

class StructureDamageTest : public ::testing::TestWithParam<std::tuple<ImageOptions, Case>> {};

TEST_P(StructureDamageTest, StopsWithItsTextAndWritesNothing) {
    const auto& [options, c] = GetParam();
    Damaged d = Build(options);
    c.damage(d);
    AnalysisFixture f(d.image);
    const bool accepted = f.Analyse();
    EXPECT_EQ(f.flags.ErrText, Expected(c.errText, f.geo.IsFat32));
    EXPECT_EQ(accepted, std::string(c.errText).empty());
    if (!accepted) {
        EXPECT_TRUE(f.flags.StructureErrorFlag);
        EXPECT_FALSE(f.flags.RestartRun);
    }
    EXPECT_EQ(f.fake->Writes(), 0u);
    EXPECT_EQ(f.memory->Bytes(), d.image.bytes());
}

const Case kCases[] = {
    {"LinkBeyondTheLastCluster",
     [](Damaged& d) { testing::LinkTailTo(d.image, d.b, d.image.layout().MaxCluster() + 1); },
     "Bad cluster#"},
    {"CrossLink", [](Damaged& d) { testing::LinkTailTo(d.image, d.b, 20); }, "Crosslinked files"},
    {"ChainIntoAFreeCluster", [](Damaged& d) { testing::LinkTailTo(d.image, d.b, 60); },
     "Invalid chain"},
    // The whole chain becomes a loop with no head: the file is fixed, and painting
    // its chain as fixed finds the loop.
    {"Loop", [](Damaged& d) { testing::LinkTailTo(d.image, d.a, 10); }, "Bad cluster"},
    {"LoopIntoItsOwnMiddle", [](Damaged& d) { testing::LinkTailTo(d.image, d.a, 11); },
     "Crosslinked files"},
    {"FolderChainBroken", [](Damaged& d) { testing::BreakChainAt(d.image, d.docs, 1); },
     "Invalid chain"},
    {"EntryStartBeyondTheVolume",
     [](Damaged& d) {
         testing::SetEntryStartCluster(d.image, d.inner, d.image.layout().MaxCluster() + 1);
     },
     "BadDirClu"},
    {"LostChain",
     [](Damaged& d) {
         testing::AddLostChain(d.image, {{70, 3}});
     },
     "Files+Dirs=5 <> Chains=6"},
    {"TwoEntriesShareAChain",
     [](Damaged& d) {
         testing::SetChainLink(d.image, d.inner, 0, 0);
         testing::SetEntryStartCluster(d.image, d.inner, 30);
     },
     "Files+Dirs=5 <> Chains=4"},
    // A folder entry leading back to its own parent is not walked round and round.
    {"FolderLeadingBackToItsParent",
     [](Damaged& d) {
         testing::SetChainLink(d.image, d.sub, 0, 0);
         testing::SetEntryStartCluster(d.image, d.sub, 40);
     },
     "Files+Dirs=5 <> Chains=4"},
    {"SizeLargerThanTheChain",
     [](Damaged& d) { testing::SetEntrySize(d.image, d.b, 5 * d.image.layout().ClusterBytes()); },
     ""},
};

const ImageOptions kVolumes[] = {ImageOptions::Floppy1440(), ImageOptions::Fat16(65536, 4),
                                 ImageOptions::Fat32(1)};

INSTANTIATE_TEST_SUITE_P(Damage, StructureDamageTest,
                         ::testing::Combine(::testing::ValuesIn(kVolumes),
                                            ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return std::string(std::get<1>(info.param).name) + "_" +
                                    std::to_string(info.index / std::size(kCases));
                         });

}  // namespace
}  // namespace kestra::analysis
