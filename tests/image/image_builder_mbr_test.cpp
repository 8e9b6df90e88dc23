// Volumes inside partitioned disks, found where the MBR says they are.
#include <gtest/gtest.h>

#include "support/image.h"
#include "support/image_checks.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

FatImage SmallVolume() {
    ImageBuilder b(ImageOptions::Floppy1440());
    const NodeId dir = b.AddFolder(b.Root(), "Wrapped folder");
    b.AddFile(dir, "Inside the partition.txt", SeededBytes(1, 2000), {{40, 2}, {30, 2}});
    b.AddFile(b.Root(), "TOP.BIN", SeededBytes(2, 100));
    return b.Build();
}

TEST(ImageBuilderMbr, MtoolsFindsTheVolumeAtItsOffsetBesideOtherSlots) {
    const FatImage volume = SmallVolume();
    for (int slot : {1, 2, 4}) {
        SCOPED_TRACE(slot);
        const uint32_t start = 2048 + 64 * slot;
        const std::vector<uint8_t> disk = WrapInMbr(volume.bytes(), slot, start);
        TempFile file;
        WriteFile(file.path(), disk);
        const std::string at = file.path() + "@@" + std::to_string(uint64_t{start} * 512);
        // Every file by its long path, so the tools found the volume at its offset.
        EXPECT_TRUE(ReadsBackIdentical(volume, at));
        // The slot records type, start and size; the volume knows where it sits.
        const uint64_t entry = 446 + 16 * uint64_t(slot - 1);
        EXPECT_EQ(disk[entry + 4], 0x01);
        EXPECT_EQ(Get32(disk, entry + 8), start);
        EXPECT_EQ(Get32(disk, entry + 12), 2880u);
        EXPECT_EQ(Get32(disk, uint64_t{start} * 512 + 28), start);
        EXPECT_EQ(Get16(disk, 510), 0xAA55);
    }

    // Other slots can be filled, and overlap is refused.
    const std::vector<uint8_t> disk = BuildMbrDisk({
        {1, 63, 0x0C, 1000, true, {}},
        {3, 4096, 0x01, 0, false, volume.bytes()},
    });
    EXPECT_EQ(disk.size(), (4096u + 2880u) * 512);
    EXPECT_EQ(disk[446], 0x80);
    EXPECT_EQ(Get32(disk, 446 + 12), 1000u);
    EXPECT_EQ(disk[446 + 16 + 4], 0x00);  // slot 2 stays empty
    TempFile file;
    WriteFile(file.path(), disk);
    EXPECT_EQ(Mdir(file.path() + "@@" + std::to_string(4096 * 512)).exitStatus, 0);
    EXPECT_THROW(BuildMbrDisk({{1, 100, 0x01, 200, false, {}}, {2, 250, 0x01, 100, false, {}}}),
                 std::invalid_argument);
    EXPECT_THROW(WrapInMbr(volume.bytes(), 5, 2048), std::invalid_argument);
}

}  // namespace
}  // namespace kestra::testing
