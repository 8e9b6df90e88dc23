#include "support/damage_table.h"

#include <algorithm>

#include "support/image_damage.h"

namespace kestra::testing {
namespace {

constexpr const char* kDirty =
    "Volume dirty: a run or mount on it was interrupted; fsck.fat -a repairs it";

}  // namespace

Damaged BuildDamageable(const ImageOptions& options) {
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

const std::vector<DamageCase>& DamageTable() {
    static const std::vector<DamageCase> table = {
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
        {"DotDotPointsElsewhere",
         [](Damaged& d) { return d.SetStart(d.Dots(d.sub) + 32, 0), true; },
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
        {"BlankName",
         [](Damaged& d) { return std::fill_n(d.image.EntryBytes(d.b), 11, ' '), true; },
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
    return table;
}

}  // namespace kestra::testing
