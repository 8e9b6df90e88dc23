// Damage must really land: fsck.fat -n, which knows nothing of the builder,
// has to see each fault, and see nothing else on the untouched image.
#include <gtest/gtest.h>

#include <functional>

#include "support/image.h"
#include "support/image_checks.h"
#include "support/image_damage.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

struct Volume {
    FatImage image;
    NodeId a, b, folder;
};

Volume SmallVolume(const ImageOptions& opts) {
    ImageBuilder b(opts);
    const size_t cb = opts.sectorsPerCluster * 512;
    const NodeId folder = b.AddFolder(b.Root(), "Folder", {{30, 1}, {40, 1}});
    for (int i = 0; i < 10; ++i)
        b.AddFile(folder, "item " + std::to_string(i), {});
    const NodeId fa = b.AddFile(b.Root(), "File A.bin", SeededBytes(1, 3 * cb), {{10, 2}, {20, 1}});
    const NodeId fb = b.AddFile(b.Root(), "FILEB.BIN", SeededBytes(2, 2 * cb), {{50, 2}});
    return {b.Build(), fa, fb, folder};
}

TEST(ImageBuilderDamage, FsckSeesEachFault) {
    struct Case {
        const char* what;
        std::function<void(Volume&)> damage;
        const char* fsckSays;
    };
    const Case cases[] = {
        // A's second cluster leads into B's last, so both claim it at full size.
        {"cross-link", [](Volume& v) { SetChainLink(v.image, v.a, 1, 51); }, "share clusters"},
        {"lost chain",
         [](Volume& v) {
             AddLostChain(v.image, {{60, 2}, {70, 1}}, 7);
         },
         "unused clusters"},
        {"loop", [](Volume& v) { LinkTailTo(v.image, v.a, 10); }, "circular"},
        {"into a free cluster", [](Volume& v) { LinkTailTo(v.image, v.b, 90); }, "free cluster"},
        {"beyond the volume",
         [](Volume& v) { LinkTailTo(v.image, v.b, v.image.layout().MaxCluster() + 1); },
         "out of range"},
        {"start beyond the volume",
         [](Volume& v) { SetEntryStartCluster(v.image, v.b, v.image.layout().MaxCluster() + 5); },
         "start cluster beyond limit"},
        {"size too large", [](Volume& v) { SetEntrySize(v.image, v.b, 5000); }, "size"},
        {"size too small", [](Volume& v) { SetEntrySize(v.image, v.a, 100); }, "size"},
        {"broken folder chain", [](Volume& v) { BreakChainAt(v.image, v.folder, 1); }, "free"},
        {"FAT copies differ", [](Volume& v) { MakeCopiesDiffer(v.image, 80, 81); }, "differ"},
        {"erased entry keeps its chain", [](Volume& v) { EraseEntry(v.image, v.a); },
         "unused clusters"},
        {"bad mark inside a chain", [](Volume& v) { MarkBad(v.image, 11); }, "bad"},
    };
    for (const ImageOptions& opts : {ImageOptions::Floppy1440(), ImageOptions::Fat32(1)}) {
        {
            Volume untouched = SmallVolume(opts);
            TempFile file;
            EXPECT_EQ(untouched.image.WriteTo(file.path()), "");
            ASSERT_TRUE(FsckClean(file.path()));
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(FatTypeName(ComputeLayout(opts).type)) + " " + c.what);
            Volume v = SmallVolume(opts);
            c.damage(v);
            TempFile file;
            EXPECT_EQ(v.image.WriteTo(file.path()), "");
            EXPECT_TRUE(FsckFlags(file.path(), c.fsckSays));
        }
    }
}

TEST(ImageBuilderDamage, BadMarksAndRawEntriesUseEachTypesWidth) {
    for (const ImageOptions& opts :
         {ImageOptions::Floppy1440(), ImageOptions::Fat16(), ImageOptions::Fat32(1)}) {
        Volume v = SmallVolume(opts);
        SCOPED_TRACE(FatTypeName(v.image.type()));
        const uint32_t expected = v.image.type() == FatType::kFat12   ? 0xFF7
                                  : v.image.type() == FatType::kFat16 ? 0xFFF7
                                                                      : 0x0FFFFFF7;
        // Odd and even neighbours matter for FAT12, where two entries share bytes.
        MarkBad(v.image, 81);
        MarkBad(v.image, 84, 1);
        EXPECT_EQ(v.image.FatEntry(81, 0), expected);
        EXPECT_EQ(v.image.FatEntry(81, 1), expected);
        EXPECT_EQ(v.image.FatEntry(84, 0), 0u);
        EXPECT_EQ(v.image.FatEntry(84, 1), expected);
        for (uint32_t c : {80u, 82u, 83u, 85u})
            EXPECT_EQ(v.image.FatEntry(c, 1), 0u) << c;
        EXPECT_EQ(v.image.Chain(10), (std::vector<uint32_t>{10, 11, 20}));
        if (v.image.type() == FatType::kFat32) {
            // The free count follows the damage, so only the asked-for fault shows.
            const uint32_t freeCount = Get32(v.image.bytes(), 512 + 488);
            EXPECT_EQ(freeCount, v.image.FreeClusterCount());
        }
    }
}

TEST(ImageBuilderDamage, EntrySetsStraddlingFolderClustersAreTrackedAndErasable) {
    ImageBuilder b(ImageOptions::Floppy1440());
    const NodeId folder = b.AddFolder(b.Root(), "SPLIT", {{30, 1}, {40, 1}});
    for (int i = 0; i < 13; ++i)
        b.AddFile(folder, "F" + std::to_string(i), {});
    // Slots 15, 16 and 17: the first in cluster 30, the rest in cluster 40.
    const NodeId split = b.AddFile(folder, "Split across.bin", SeededBytes(1, 600));
    FatImage image = b.Build();
    EXPECT_EQ(image.Node(split).slotOffsets,
              (std::vector<uint64_t>{image.ClusterOffset(30) + 480, image.ClusterOffset(40),
                                     image.ClusterOffset(40) + 32}));
    TempFile file;
    EXPECT_EQ(image.WriteTo(file.path()), "");
    ASSERT_TRUE(FsckClean(file.path()));
    EXPECT_NE(Mdir(file.path(), "::/SPLIT").output.find("Split across.bin"), std::string::npos);
    EraseEntry(image, split);
    EXPECT_EQ(image.WriteTo(file.path()), "");
    EXPECT_EQ(Mdir(file.path(), "::/SPLIT").output.find("Split across"), std::string::npos);
    EXPECT_TRUE(FsckFlags(file.path(), "Reclaimed 2 unused clusters"));
}

}  // namespace
}  // namespace kestra::testing
