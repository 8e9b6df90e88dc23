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
