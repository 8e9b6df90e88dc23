// Every kind of damage fsck.fat finds on a volume stops `check` with its own
// "Err=" line, and `defrag` leaves every byte of the volume as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "integration/cli.h"
#include "support/image.h"
#include "support/image_damage.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

struct Damaged {
    FatImage image;
    NodeId a, b, docs, inner, sub;

    const Layout& layout() const { return image.layout(); }
    bool fat32() const { return layout().type == FatType::kFat32; }
    // The first bytes of a folder: its "." entry, then its "..".
    uint8_t* Dots(NodeId folder) {
        return &image.bytes()[image.ClusterOffset(image.Node(folder).FirstCluster())];
    }
    void SetStart(uint8_t* entry, uint32_t cluster) {
        entry[26] = cluster & 0xFF;
        entry[27] = (cluster >> 8) & 0xFF;
        entry[20] = (cluster >> 16) & 0xFF;
        entry[21] = (cluster >> 24) & 0xFF;
    }
};

// A.BIN fragmented, B.BIN, folder DOCS in two pieces holding INNER.TXT and folder
// SUB: five entries, five chains (six on FAT32).
Damaged Build(const ImageOptions& options) {
    ImageBuilder builder(options);
    const uint32_t cb = options.sectorsPerCluster * 512;
    Damaged d{FatImage({}, {}, {}, {}), 0, 0, 0, 0, 0};
    d.a = builder.AddFile(builder.Root(), "A.BIN", SeededBytes(1, 3 * cb), {{10, 2}, {20, 1}});
    d.b = builder.AddFile(builder.Root(), "B.BIN", SeededBytes(2, 2 * cb), {{30, 2}});
    d.docs = builder.AddFolder(builder.Root(), "DOCS", {{40, 1}, {44, 1}});
    d.inner = builder.AddFile(d.docs, "INNER.TXT", SeededBytes(3, 100), {{50, 1}});
    d.sub = builder.AddFolder(d.docs, "SUB", {{55, 1}});
    d.image = builder.Build();
    return d;
}

constexpr const char* kDirty =
    "Volume dirty: a run or mount on it was interrupted; fsck.fat -a repairs it";

struct Case {
    const char* name;
    // Damages the volume; false when the kind does not exist on its FAT type.
    std::function<bool(Damaged&)> damage;
    const char* errText;  // the "Err=" text; empty: the volume is accepted
};

// The chain count text is counted for FAT12/16; FAT32 adds its root to both sides.
std::string Expected(const std::string& text, bool fat32) {
    int files = 0, chains = 0;
    if (!fat32 || std::sscanf(text.c_str(), "Files+Dirs=%d <> Chains=%d", &files, &chains) != 2)
        return text;
    return "Files+Dirs=" + std::to_string(files + 1) + " <> Chains=" + std::to_string(chains + 1);
}

const Case kCases[] = {
    {"LinkBeyondTheLastCluster",
     [](Damaged& d) { return LinkTailTo(d.image, d.b, d.layout().MaxCluster() + 1), true; },
     "Bad cluster#"},
    {"LinkToClusterOne", [](Damaged& d) { return LinkTailTo(d.image, d.b, 1), true; },
     "Bad cluster#"},
    {"ReservedValue",
     [](Damaged& d) { return d.image.SetFatEntry(70, d.layout().BadMark() - 7), true; },
     "Bad cluster#: 70"},
    {"CrossLink", [](Damaged& d) { return LinkTailTo(d.image, d.b, 20), true; },
     "Crosslinked files"},
    {"ChainIntoAFreeCluster", [](Damaged& d) { return LinkTailTo(d.image, d.b, 60), true; },
     "Invalid chain"},
    {"WholeChainALoop", [](Damaged& d) { return LinkTailTo(d.image, d.a, 10), true; },
     "Crosslinked files: C:\\A.BIN"},
    {"FolderChainALoop", [](Damaged& d) { return LinkTailTo(d.image, d.docs, 40), true; },
     "Crosslinked files: C:\\DOCS"},
    {"RootChainALoop",
     [](Damaged& d) {
         const uint32_t root = d.layout().rootCluster;
         return d.fat32() && (d.image.SetFatEntry(root, root), true);
     },
     "BadDirClu"},
    {"LoopIntoItsOwnMiddle", [](Damaged& d) { return LinkTailTo(d.image, d.a, 11), true; },
     "Crosslinked files"},
    {"LostLoopWithoutHead",
     [](Damaged& d) {
         AddLostChain(d.image, {{70, 3}});
         return d.image.SetFatEntry(72, 70), true;
     },
     "Lost clusters: 3"},
    {"ClusterLinkedToItself", [](Damaged& d) { return d.image.SetFatEntry(70, 70), true; },
     "Lost clusters: 1"},
    {"LostChain",
     [](Damaged& d) {
         return AddLostChain(d.image, {{70, 3}}), true;
     },
     "Files+Dirs=5 <> Chains=6"},
    {"FolderChainBroken", [](Damaged& d) { return BreakChainAt(d.image, d.docs, 1), true; },
     "Invalid chain"},
    {"EntryStartBeyondTheVolume",
     [](Damaged& d) {
         return SetEntryStartCluster(d.image, d.inner, d.layout().MaxCluster() + 1), true;
     },
     "BadDirClu"},
    {"EntryStartInsideAnotherChain",
     [](Damaged& d) {
         SetChainLink(d.image, d.inner, 0, 0);
         return SetEntryStartCluster(d.image, d.inner, 11), true;
     },
     "Crosslinked files: C:\\DOCS\\INNER.TXT"},
    {"EntryOnAFreeCluster",
     [](Damaged& d) {
         SetChainLink(d.image, d.inner, 0, 0);
         return SetEntryStartCluster(d.image, d.inner, 60), true;
     },
     "Invalid cluster: C:\\DOCS\\INNER.TXT"},
    {"TwoEntriesShareAChain",
     [](Damaged& d) {
         SetChainLink(d.image, d.inner, 0, 0);
         return SetEntryStartCluster(d.image, d.inner, 30), true;
     },
     "Crosslinked files: C:\\DOCS\\INNER.TXT"},
    {"FolderLeadingBackToItsParent",
     [](Damaged& d) {
         SetChainLink(d.image, d.sub, 0, 0);
         return SetEntryStartCluster(d.image, d.sub, 40), true;
     },
     "Crosslinked files: C:\\DOCS\\SUB"},
    {"SecondFatDiffers",
     [](Damaged& d) { return MakeCopiesDiffer(d.image, 70, d.layout().EndOfChain()), true; },
     "FAT copies differ"},
    {"FirstFatDiffers",
     [](Damaged& d) { return d.image.SetFatEntry(70, d.layout().EndOfChain(), 0), true; },
     "FAT copies differ"},
    {"DotPointsElsewhere", [](Damaged& d) { return d.SetStart(d.Dots(d.sub), 44), true; },
     "Invalid Dot entry: C:\\DOCS\\SUB"},
    {"DotDotPointsElsewhere", [](Damaged& d) { return d.SetStart(d.Dots(d.sub) + 32, 0), true; },
     "Invalid Dot entry: C:\\DOCS\\SUB"},
    {"DotDotNamesTheRootByCluster",
     [](Damaged& d) { return d.SetStart(d.Dots(d.docs) + 32, 2), true; },
     "Invalid Dot entry: C:\\DOCS"},
    {"DotMissing", [](Damaged& d) { return d.Dots(d.docs)[0] = 'X', true; },
     "Invalid Dot entry: C:\\DOCS"},
    {"DuplicateName",
     [](Damaged& d) {
         std::copy_n(d.image.EntryBytes(d.a), 11, d.image.EntryBytes(d.b));
         return true;
     },
     "Duplicate name: C:\\A.BIN"},
    {"BlankName", [](Damaged& d) { return std::fill_n(d.image.EntryBytes(d.b), 11, ' '), true; },
     "Invalid name: C:\\"},
    {"BadCharacterInName", [](Damaged& d) { return d.image.EntryBytes(d.b)[1] = '*', true; },
     "Invalid name: C:\\B*.BIN"},
    {"FolderWithASize", [](Damaged& d) { return SetEntrySize(d.image, d.docs, 5), true; },
     "Invalid folder size: C:\\DOCS"},
    {"DirtyBitInTheFat",
     [](Damaged& d) {
         if (d.layout().type == FatType::kFat12) return false;
         d.image.SetFatEntry(1, d.fat32() ? 0x07FFFFFF : 0x7FFF);
         return true;
     },
     kDirty},
    {"DirtyBitInTheBootSector",
     [](Damaged& d) { return d.image.bytes()[d.fat32() ? 65 : 37] |= 1, true; }, kDirty},
    {"FatWithoutTheMediaByte",
     [](Damaged& d) {
         const uint32_t first = d.image.FatEntry(0);
         return d.image.SetFatEntry(0, first & ~0xF00u), true;
     },
     "FAT does not begin with the media byte"},
    {"RootEntryCountOnFat32",
     [](Damaged& d) { return d.fat32() && (d.image.bytes()[18] = 2, true); },
     "Root entry count on FAT32"},
    // Past the end mark only fsck.fat reads on: there an empty file can stand
    // twice without a chain to give it away.
    {"EmptyFileTwicePastTheEnd",
     [](Damaged& d) { return PutSlotAfter(d.image, d.docs, 1, "B       BIN", 0x20), true; },
     "Entry after the end of the folder: C:\\B.BIN"},
    {"DotWithAStrayCaseByte", [](Damaged& d) { return d.Dots(d.sub)[12] = 0x20, true; },
     "Invalid Dot entry: C:\\DOCS\\SUB"},
    {"LabelWithAControlByte",
     [](Damaged& d) { return PutSlotAfter(d.image, d.docs, 0, "DISK\x01      ", 0x08), true; },
     "Invalid volume label"},
    {"LabelWithAnFFLeadByte",
     [](Damaged& d) {
         return PutSlotAfter(d.image, d.docs, 0,
                             "\xFF"
                             "DISK      ",
                             0x08),
                true;
     },
     "Invalid volume label"},
    // A file whose size claims more than its chain holds is left where it is.
    {"SizeLargerThanTheChain",
     [](Damaged& d) { return SetEntrySize(d.image, d.b, 5 * d.layout().ClusterBytes()), true; },
     ""},
};

const ImageOptions kVolumes[] = {ImageOptions::Floppy1440(), ImageOptions::Fat16(65536, 4),
                                 ImageOptions::Fat32(1)};

class CliDamageTest : public ::testing::TestWithParam<std::tuple<ImageOptions, Case>> {};

TEST_P(CliDamageTest, CheckNamesItAndDefragWritesNothing) {
    const auto& [options, c] = GetParam();
    Damaged d = Build(options);
    if (!c.damage(d)) GTEST_SKIP() << "no such damage on this FAT type";
    TempDir dir;
    const std::string img = dir.File("vol.img");
    WriteFile(img, d.image.bytes());
    const std::string log = dir.File("run.log");
    const CommandResult check = RunCommand(Cli("check --log " + log + " " + img));
    if (std::string(c.errText).empty()) {
        EXPECT_EQ(check.exitStatus, 0) << check.output;
        return;
    }
    // The damage is real: the independent checker sees it too.
    EXPECT_NE(FsckCheck(img).exitStatus, 0) << "fsck.fat -n found nothing";
    const std::string line = "Err=" + Expected(c.errText, d.fat32());
    EXPECT_EQ(check.exitStatus, 1) << check.output;
    EXPECT_NE(check.output.find("\n" + line + "\n"), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("\nError stop\n"), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("Structural errors"), std::string::npos) << check.output;
    const std::vector<uint8_t> logged = ReadFile(log);
    EXPECT_NE(std::string(logged.begin(), logged.end()).find(line + "\r\n"), std::string::npos);

    const CommandResult defrag = RunCommand(Cli("defrag " + img));
    EXPECT_EQ(defrag.exitStatus, 1) << defrag.output;
    EXPECT_TRUE(ReadFile(img) == d.image.bytes()) << "defrag wrote to a damaged volume";
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<ImageOptions, Case>>& info) {
    const char* const types[] = {"Fat12", "Fat16", "Fat32"};
    return std::string(types[info.index / std::size(kCases)]) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Damage, CliDamageTest,
                         ::testing::Combine(::testing::ValuesIn(kVolumes),
                                            ::testing::ValuesIn(kCases)),
                         CaseName);

}  // namespace
}  // namespace kestra::testing
