#include "format/volume_signature.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/image.h"

namespace kestra::format {
namespace {

std::vector<uint8_t> Head() {
    return std::vector<uint8_t>(kSignatureBytes, 0);
}

void Put(std::vector<uint8_t>& head, size_t at, const char* text) {
    std::memcpy(head.data() + at, text, std::strlen(text));
}

std::string What(const std::vector<uint8_t>& head) {
    return IdentifyVolume(head.data(), head.size()).what;
}

TEST(VolumeSignatureTest, OtherFileSystemsAreNamed) {
    auto ext = Head();
    ext[1080] = 0x53, ext[1081] = 0xEF;
    EXPECT_EQ(What(ext), "it holds an ext2 file system");
    ext[1024 + 92] = 0x04;  // a journal
    EXPECT_EQ(What(ext), "it holds an ext3 file system");
    ext[1024 + 96] = 0x40;  // extents
    EXPECT_EQ(What(ext), "it holds an ext4 file system");

    auto iso = Head();
    Put(iso, 32769, "CD001");
    EXPECT_EQ(What(iso), "it holds an ISO 9660 (CD/DVD) file system");
    // A head cut before the descriptor cannot tell.
    EXPECT_EQ(IdentifyVolume(iso.data(), 32768).what.find("ISO"), std::string::npos);

    auto ntfs = Head();
    Put(ntfs, 3, "NTFS    ");
    ntfs[510] = 0x55, ntfs[511] = 0xAA;
    EXPECT_EQ(What(ntfs), "it holds an NTFS file system");
    auto exfat = Head();
    Put(exfat, 3, "EXFAT   ");
    EXPECT_EQ(What(exfat), "it holds an exFAT file system");
    auto swap = Head();
    Put(swap, 4086, "SWAPSPACE2");
    EXPECT_EQ(What(swap), "it holds a Linux swap area");
    auto btrfs = Head();
    Put(btrfs, 65600, "_BHRfS_M");
    EXPECT_EQ(What(btrfs), "it holds a Btrfs file system");
}

TEST(VolumeSignatureTest, ADiskPointsAtItsFatPartition) {
    const image::FatImage volume = image::ImageBuilder(image::ImageOptions::Floppy1440()).Build();
    std::vector<uint8_t> disk = image::WrapInMbr(volume.bytes(), 3, 2048);
    EXPECT_FALSE(HasFatBootFields(disk.data()));
    EXPECT_TRUE(HasFatBootFields(volume.bytes().data()));
    Signature s = IdentifyVolume(disk.data(), kSignatureBytes);
    EXPECT_EQ(s.what, "it starts with a partition table");
    EXPECT_EQ(s.partition, 3);
    // A FAT partition is offered before another used one.
    disk[446 + 4] = 0x83, disk[446 + 8] = 1, disk[446 + 12] = 1;
    EXPECT_EQ(IdentifyVolume(disk.data(), kSignatureBytes).partition, 3);
    disk[446 + 32 + 4] = 0x07;
    EXPECT_EQ(IdentifyVolume(disk.data(), kSignatureBytes).partition, 1);
    disk[446 + 4] = 0xEE;  // a protective entry: the table is GPT
    s = IdentifyVolume(disk.data(), kSignatureBytes);
    EXPECT_EQ(s.partition, 0);
    EXPECT_NE(s.what.find("GPT"), std::string::npos);
}

TEST(VolumeSignatureTest, ZerosAndNoiseAreToldApart) {
    auto zeros = Head();
    EXPECT_EQ(What(zeros), "sector 0 is all zeros (an empty or unformatted volume)");
    auto noise = std::vector<uint8_t>(512, 0x11);
    EXPECT_EQ(What(noise), "sector 0 holds no FAT boot sector and no known signature");
    EXPECT_FALSE(HasFatBootFields(noise.data()));
    EXPECT_EQ(IdentifyVolume(noise.data(), 100).what, "it is shorter than one sector");
    // A boot sector of 4096-byte sectors is FAT, refused later for its sector size.
    auto big = Head();
    big[11] = 0x00, big[12] = 0x10, big[13] = 1, big[14] = 1, big[16] = 2;
    EXPECT_TRUE(HasFatBootFields(big.data()));
}

}  // namespace
}  // namespace kestra::format
